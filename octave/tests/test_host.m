## What only a real host shows about travo.mex: that it loads, its results'
## shapes (ans too), errors after the function name, and how the host's own
## array classes are taken. The order of the checks, their edges on real
## doubles, the values and allocation failures are checked through travo's
## host layer (GoogleTest).

%!shared p
%! p = {10, -1, 2/3, 1/3};

%!test
%! ## Every action: a real double matrix of its shape; an empty X and Y give
%! ## their own shape; a call with no output still gives ans.
%! X = [-0.3, 0.1, 0.25; 0.5, -0.9, 0.0];
%! Y = [0.7, -0.2, 0.8; -0.6, 0.3, 1.5];
%! calls = {{"info"}, {"ND_func", X, Y}, {"D_func", X, Y}, {"D2_func", X, Y}, {"D_deriv", X, Y, 2}, ...
%!          {"D2_deriv1", X, Y, 2}, {"D2_deriv2", X, Y, 1, 2}, {"D_gradient", 0.1, -0.2}, ...
%!          {"D2_gradient", 0.1, -0.2}, {"D2_hessian", 0.1, -0.2}, {"D2_deriv2", zeros(0, 3), zeros(0, 3), 1, 1}};
%! shapes = {[10 4], [2 3], [2 3], [2 3], [2 3], [2 3], [2 3], [2 1], [2 1], [2 2], [0 3]};
%! for a = 1:numel (calls)
%!   c = calls{a};
%!   r = travo (p{:}, c{1}, 1, c{2:end});
%!   assert (isequal (size (r), shapes{a}) && isa (r, "double") && isreal (r) && ! issparse (r), c{1});
%! endfor
%! travo (p{:}, "D_gradient", 1, 0.1, 0.2);
%! assert (size (ans), [2 1]);

%!test
%! ## Errors end the call with "travo: " and the message. Two outputs are
%! ## refused by the entry, not by the host. Classes of the host's arrays:
%! ## every parameter must be one real double, X and Y real double matrices;
%! ## "info" does not read X and Y.
%! try
%!   [a, b] = travo (p{:}, "info", 1);
%!   error ("two outputs were accepted");
%! catch err
%!   assert (err.message, "travo: Too many output arguments.");
%! end_try_catch
%! bad = {int32(3), true, single(3), complex(3, 0), sparse(3), {3}, struct("a", 3), "3", [3 3], []};
%! for k = 1:numel (bad)
%!   travo_expect_error ("Wrong minima number: must be a scalar >=2", bad{k}, p{2:4}, "info", 1);
%!   travo_expect_error ("Wrong global minimizer value: must be a scalar", p{1}, bad{k}, p{3:4}, "info", 1);
%!   travo_expect_error ("Wrong distance: must be a scalar > 0", p{1:2}, bad{k}, p{4}, "info", 1);
%!   travo_expect_error ("Wrong radius: must be a scalar > 0", p{1:3}, bad{k}, "info", 1);
%!   travo_expect_error ("Wrong test number: must be an integer 0 < i <= 100", p{:}, "info", bad{k});
%!   travo_expect_error ("Wrong first partial derivative index", p{:}, "D_deriv", 1, 0, 0, bad{k});
%!   if (k <= 7)
%!     travo_expect_error ("Wrong action number", p{:}, bad{k}, 1);
%!     travo_expect_error ("Wrong target points matrix type: must be real double", p{:}, "D2_func", 1, bad{k}, 0);
%!     travo_expect_error ("Wrong target points matrix type: must be real double", p{:}, "D2_hessian", 1, 0, bad{k});
%!   endif
%! endfor
%! travo_expect_error ("Wrong action string", p{:}, ["if"; "no"], 1);
%! travo_expect_error ("Wrong action string", p{:}, ["info", char(0)], 1);
%! assert (travo (p{:}, "info", 1, {1, 2}, "ab"), travo (p{:}, "info", 1));
