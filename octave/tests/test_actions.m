## The ten actions of travo.mex: selection by name and by number, shapes of
## the results, and the way points and indices are taken.

%!shared p, names, X, Y
%! p = {10, -1, 2/3, 1/3};
%! names = {"info", "ND_func", "D_func", "D2_func", "D_deriv", "D2_deriv1", ...
%!          "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};
%! X = [-0.3, 0.1, 0.25; 0.5, -0.9, 0.0];
%! Y = [0.7, -0.2, 0.8; -0.6, 0.3, 1.5];

%!test
%! ## Every action by name and by number (floor of the number).
%! shapes = {[10 4], [2 3], [2 3], [2 3], [2 3], [2 3], [2 3], [2 1], [2 1], [2 2]};
%! for a = 0:9
%!   if (a >= 7)
%!     args = {1, 0.1, -0.2};
%!   elseif (a == 4 || a == 5)
%!     args = {1, X, Y, 2};
%!   elseif (a == 6)
%!     args = {1, X, Y, 1, 2};
%!   else
%!     args = {1, X, Y};
%!   endif
%!   by_name = travo (p{:}, names{a + 1}, args{:});
%!   by_number = travo (p{:}, a + 0.5, args{:});
%!   assert (size (by_name), shapes{a + 1});
%!   assert (class (by_name), "double");
%!   assert (isreal (by_name));
%!   assert (isequal (by_name, by_number), true, names{a + 1});
%! endfor

%!test
%! ## Numbers are taken by floor.
%! assert (travo (p{:}, 3.7, 1, X, Y), travo (p{:}, "D2_func", 1, X, Y));
%! assert (travo (p{:}, 9.99, 1, 0.1, 0.2), travo (p{:}, "D2_hessian", 1, 0.1, 0.2));
%! assert (size (travo (2.9, -1, 0.9, 0.4, "info", 2)), [2 4]);
%! assert (travo (p{:}, "info", 100.9), travo (p{:}, "info", 100));
%! assert (travo (p{:}, "D_deriv", 1, X, Y, 2.7), travo (p{:}, "D_deriv", 1, X, Y, 2));

%!test
%! ## The "info" table of the default member.
%! t = travo (p{:}, "info", 1);
%! assert (size (t), [10 4]);
%! assert (t(1, :), [0, 0.33, -0.7626144224, 0.597254085], 1e-9);
%! assert (t(2, 1:2), [-1, 1/3]);
%! assert (t(2, 3:4), [-0.1355228527, 0.8235295977], 1e-9);
%! assert (t(3, 2), 0.6768267768, 1e-9);
%! ## X and Y are not needed, and not read, by "info" ...
%! assert (travo (p{:}, "info", 1, {}), t);
%! assert (travo (p{:}, "info", 1, "ab", {1, 2}), t);
%! ## ... but with 8 or more inputs they must be alike.
%! travo_expect_error ("Wrong target points matrix dimension: must have the same dimension", ...
%!                     p{:}, "info", 1, [1 2], [1; 2]);

%!test
%! ## A call with no output still gives ans.
%! travo (p{:}, "info", 1);
%! assert (size (ans), [10 4]);
%! travo (p{:}, "D_gradient", 1, 0.1, 0.2);
%! assert (size (ans), [2 1]);

%!test
%! ## Results have the shape of X, empty ones included.
%! assert (size (travo (p{:}, "ND_func", 1, zeros (0, 0), zeros (0, 0))), [0 0]);
%! assert (size (travo (p{:}, "D2_deriv2", 1, zeros (0, 3), zeros (0, 3), 1, 1)), [0 3]);
%! assert (size (travo (p{:}, "D_func", 1, zeros (4, 1), zeros (4, 1))), [4 1]);
%! assert (size (travo (p{:}, "D_func", 1, zeros (1, 5), zeros (1, 5))), [1 5]);

%!test
%! ## Element (i, j) is the value at the point (X(i, j), Y(i, j)).
%! Xs = [0.1, 0.2; -0.3, 0.4];
%! Ys = [0.5, -0.6; 0.7, -0.8];
%! v = travo (p{:}, "ND_func", 1, Xs, Ys);
%! for k = 1:4
%!   assert (v(k), travo (p{:}, "ND_func", 1, Xs(k), Ys(k)));
%! endfor
%! assert (v(2, 1), travo (p{:}, "ND_func", 1, -0.3, 0.7));

%!test
%! ## Two identical calls give identical bits; another member differs.
%! a = travo (p{:}, "D2_func", 1, X, Y);
%! b = travo (p{:}, "D2_func", 1, X, Y);
%! assert (isequal (typecast (a(:), "uint64"), typecast (b(:), "uint64")));
%! c = travo (p{:}, "D2_func", 2, X, Y);
%! assert (! isequal (a, c));

%!test
%! ## Gradients are columns of first derivatives; the Hessian's row is the
%! ## first index and its column the second.
%! g = travo (p{:}, "D_gradient", 1, 0.1, -0.2);
%! assert (g, [travo(p{:}, "D_deriv", 1, 0.1, -0.2, 1); travo(p{:}, "D_deriv", 1, 0.1, -0.2, 2)]);
%! g2 = travo (p{:}, "D2_gradient", 1, 0.1, -0.2);
%! assert (g2, [travo(p{:}, "D2_deriv1", 1, 0.1, -0.2, 1); travo(p{:}, "D2_deriv1", 1, 0.1, -0.2, 2)]);
%! h = travo (p{:}, "D2_hessian", 1, 0.1, -0.2);
%! for r = 1:2
%!   for c = 1:2
%!     assert (h(r, c), travo (p{:}, "D2_deriv2", 1, 0.1, -0.2, r, c));
%!   endfor
%! endfor
%! ## Inputs 9 and 10 of the single-point actions are not looked at.
%! assert (travo (p{:}, "D_gradient", 1, 0.1, -0.2, {}, "x"), g);

%!test
%! ## Faults found by evaluation give 1e+100 and no message.
%! assert (travo (p{:}, "D_gradient", 1, 1 + 2e-10, 0), [1e100; 1e100]);
%! assert (travo (p{:}, "D2_hessian", 1, 0, -1 - 2e-10), 1e100 * ones (2));
%! assert (travo (p{:}, "D_deriv", 1, X, Y, 0), 1e100 * ones (2, 3));
%! assert (travo (p{:}, "D2_deriv2", 1, X, Y, 2, 0.5), 1e100 * ones (2, 3));
%! ## Just inside the tolerance is inside.
%! assert (travo (p{:}, "D2_func", 1, 1 + 5e-11, 0) < 1e100);
%! ## (0.0, 1.5) is outside the box.
%! v = travo (p{:}, "ND_func", 1, X, Y);
%! assert (v(2, 3), 1e100);

