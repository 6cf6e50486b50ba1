function [x, fx] = minimise_5d (test)
  % MINIMISE_5D  Minimises a 5-dimensional D2 member with fminunc and its
  % exact gradient, and checks the result against the minima table.
  %
  %   [x, fx] = minimise_5d ()      member of test number 1
  %   [x, fx] = minimise_5d (test)  another test number, 1 to 100
  %
  % The member has 20 minima over the box [-1, 1]^5. fminunc starts inside
  % the global minimizer's attraction region, half its radius away from the
  % minimizer along the first coordinate, and must end at the global
  % minimizer listed in the minima table (within 1e-5), with its value
  % (within 1e-8).
  %
  % Needs travo_member.mex on the path, e.g. addpath ("build/mex").

  if (nargin < 1)
    test = 1;
  endif
  P = struct ("dim", 5, "minima", 20, "test", test);
  T = travo_member (P, "info");          % value, radius, coordinates
  target = T(2, 3:end);                  % row 2: the global minimizer
  x0 = target + 0.5 * T(2, 2) * [1 0 0 0 0];

  f = @(x) objective (P, x);
  opts = optimset ("GradObj", "on", "TolX", 1e-12, "TolFun", 1e-14, "MaxIter", 400, "Display", "off");
  [x, fx, info] = fminunc (f, x0(:), opts);
  x = x.';

  printf ("fminunc ended with info %d after starting at distance %.3g\n", info, norm (x0 - target));
  printf ("found   f = %.15g at %s\n", fx, mat2str (x, 6));
  printf ("table   f = %.15g at %s\n", T(2, 1), mat2str (target, 6));
  if (norm (x - target) > 1e-5 || abs (fx - T(2, 1)) > 1e-8)
    error ("minimise_5d: fminunc did not reach the global minimizer of the table");
  endif
endfunction

function [f, g] = objective (P, x)
  f = travo_member (P, "value", "D2", x(:).');
  if (nargout > 1)
    g = travo_member (P, "gradient", "D2", x(:).').';
  endif
endfunction
