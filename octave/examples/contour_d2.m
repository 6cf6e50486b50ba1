function contour_d2 (varargin)
  % CONTOUR_D2  Contour plot of a twice-differentiable travo member with its
  % minimizers marked.
  %
  %   contour_d2 ()  draws the default member: 10 minima, global value -1,
  %                  distance 2/3, radius 1/3, test 1.
  %   contour_d2 (minima, value, distance, radius, test)  draws another one.
  %
  % The paraboloid vertex is marked with a black circle, the global
  % minimizers with red stars and the other local minimizers with blue
  % crosses; a dashed circle shows each attraction region.
  %
  % Needs travo.mex on the path, e.g. addpath ("build/mex"). To write a PNG
  % without a display:
  %   figure ("visible", "off"); contour_d2 (); print -dpng contour_d2.png

  p = {10, -1, 2/3, 1/3, 1};
  p(1:nargin) = varargin;
  [minima, value, distance, radius, test] = p{:};

  [x, y] = meshgrid (linspace (-1, 1, 301));
  f = travo (minima, value, distance, radius, "D2_func", test, x, y);
  t = travo (minima, value, distance, radius, "info", test);

  contour (x, y, f, 40);
  hold on;
  phi = linspace (0, 2 * pi, 100);
  for k = 2:rows (t)
    plot (t(k, 3) + t(k, 2) * cos (phi), t(k, 4) + t(k, 2) * sin (phi), "k:");
  endfor
  is_global = abs (t(:, 1) - value) <= 1e-10;
  is_global(1) = false;
  is_local = ! is_global;
  is_local(1) = false;
  plot (t(1, 3), t(1, 4), "ko", "markersize", 8, "linewidth", 2);
  plot (t(is_local, 3), t(is_local, 4), "b+", "markersize", 8, "linewidth", 2);
  plot (t(is_global, 3), t(is_global, 4), "r*", "markersize", 10, "linewidth", 2);
  hold off;
  axis ([-1 1 -1 1], "square");
  colorbar ();
  xlabel ("x_1");
  ylabel ("x_2");
  title (sprintf ("D2 member: %d minima, global value %g, test %d", minima, value, test));
endfunction
