## Values of travo.mex equal, bit for bit, those of the C library called
## directly on the same member (the reference_values program).

%!function check_member (params, x, y)
%!  [table, ref] = travo_reference (params, x, y);
%!  p = num2cell (params(1:4));
%!  t = params(5);
%!  assert (isequal (travo (p{:}, "info", t), table));
%!  cols = {"ND_func", {}, 1; "D_func", {}, 2; "D2_func", {}, 3;
%!          "D_deriv", {1}, 4; "D_deriv", {2}, 5; "D2_deriv1", {1}, 6; "D2_deriv1", {2}, 7;
%!          "D2_deriv2", {1, 1}, 8; "D2_deriv2", {1, 2}, 9; "D2_deriv2", {2, 1}, 10;
%!          "D2_deriv2", {2, 2}, 11};
%!  for k = 1:rows (cols)
%!    v = travo (p{:}, cols{k, 1}, t, x, y, cols{k, 2}{:});
%!    assert (size (v), size (x));
%!    assert (isequal (v(:), ref(:, cols{k, 3})), true, cols{k, 1});
%!  endfor
%!  for k = 1:numel (x)
%!    assert (isequal (travo (p{:}, "D_gradient", t, x(k), y(k)), ref(k, 12:13).'));
%!    assert (isequal (travo (p{:}, "D2_gradient", t, x(k), y(k)), ref(k, 14:15).'));
%!    ## The library fills row arrays: h(1, :) then h(2, :).
%!    assert (isequal (travo (p{:}, "D2_hessian", t, x(k), y(k)), reshape (ref(k, 16:19), 2, 2).'));
%!  endfor
%!endfunction

%!test
%! ## The default member on a grid, on its minimizers and outside the box.
%! [gx, gy] = meshgrid (linspace (-1, 1, 7), linspace (-1, 1, 5));
%! t = travo (10, -1, 2/3, 1/3, "info", 1);
%! x = [gx(:); t(:, 3); t(:, 3) + 0.01; 1 + 5e-11; 1.5];
%! y = [gy(:); t(:, 4); t(:, 4) - 0.02; 0.2; 0];
%! check_member ([10, -1, 2/3, 1/3, 1], x, y);

%!test
%! ## Other members, with points in a 3 x 4 matrix.
%! x = [-0.7, -0.2, 0.3, 0.8; 0.1, 0.45, -0.95, 0.6; 0, -0.33, 0.99, -0.5];
%! y = [0.2, -0.8, 0.55, 0.05; -0.4, 0.9, 0.15, -0.65; 0, 0.33, -0.99, 0.7];
%! check_member ([25, -3, 0.4, 0.15, 42], x, y);
%! check_member ([2, -0.5, 0.9, 0.4, 100], x, y);

%!test
%! ## Check values of the default member, independent of the library build.
%! t = travo (10, -1, 2/3, 1/3, "info", 1);
%! assert (t(1, 3:4), [-0.7626144224, 0.597254085], 1e-9);
%! assert (t(2, 3:4), [-0.1355228527, 0.8235295977], 1e-9);
%! assert (t(1:3, 2).', [0.33, 0.3333333333, 0.6768267768], 1e-9);
%! ## At each minimizer every kind takes the minimizer's value.
%! for k = 2:10
%!   v = [travo(10, -1, 2/3, 1/3, "ND_func", 1, t(k, 3), t(k, 4)), ...
%!        travo(10, -1, 2/3, 1/3, "D_func", 1, t(k, 3), t(k, 4)), ...
%!        travo(10, -1, 2/3, 1/3, "D2_func", 1, t(k, 3), t(k, 4))];
%!   assert (v, t(k, 1) * [1 1 1]);
%! endfor
