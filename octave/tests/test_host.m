## What only a real host shows about travo.mex: that it loads, that its
## results are real double matrices of the documented shapes (ans too),
## that an error ends the call with the message after the function name,
## and how the host's own array classes are taken. The order of the checks,
## their edges on real doubles, the values against the C interface and
## allocation failures are checked through travo's host layer (GoogleTest).

%!shared p, names, X, Y
%! p = {10, -1, 2/3, 1/3};
%! names = {"info", "ND_func", "D_func", "D2_func", "D_deriv", "D2_deriv1", ...
%!          "D2_deriv2", "D_gradient", "D2_gradient", "D2_hessian"};
%! X = [-0.3, 0.1, 0.25; 0.5, -0.9, 0.0];
%! Y = [0.7, -0.2, 0.8; -0.6, 0.3, 1.5];

%!test
%! ## Every action: a real double matrix of its shape (the numbers that
%! ## select the same actions are checked through the host layer).
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
%!   r = travo (p{:}, names{a + 1}, args{:});
%!   assert (isequal (size (r), shapes{a + 1}) && isa (r, "double") && isreal (r) && ! issparse (r), names{a + 1});
%! endfor
%! ## Empty and vector shapes come back as given.
%! assert (size (travo (p{:}, "ND_func", 1, zeros (0, 0), zeros (0, 0))), [0 0]);
%! assert (size (travo (p{:}, "D2_deriv2", 1, zeros (0, 3), zeros (0, 3), 1, 1)), [0 3]);
%! assert (size (travo (p{:}, "D_func", 1, zeros (1, 5), zeros (1, 5))), [1 5]);

%!test
%! ## A call with no output still gives ans.
%! travo (p{:}, "info", 1);
%! assert (size (ans), [10 4]);
%! travo (p{:}, "D_gradient", 1, 0.1, 0.2);
%! assert (size (ans), [2 1]);

%!test
%! ## Errors end the call with "travo: " and the message; two outputs are
%! ## refused by the entry, not by the host.
%! travo_expect_error ("Too few input arguments.", p{:}, "info");
%! try
%!   [a, b] = travo (p{:}, "info", 1);
%!   error ("two outputs were accepted");
%! catch err
%!   assert (err.message, "travo: Too many output arguments.");
%! end_try_catch

%!test
%! ## Classes of the host's arrays: every parameter must be one real double,
%! ## X and Y real double matrices; "info" does not read X and Y.
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
