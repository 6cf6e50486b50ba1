## The messages of travo.mex: one per failing check, the first failing
## check wins, and inputs of the wrong class are refused with the message of
## that input.

%!shared p, e
%! p = {10, -1, 2/3, 1/3};
%! e.too_many_inputs = "Too many input arguments.";
%! e.too_few_inputs = "Too few input arguments.";
%! e.too_many_outputs = "Too many output arguments.";
%! e.action_string = "Wrong action string";
%! e.action_number = "Wrong action number";
%! e.input_count = "Wrong input arguments number";
%! e.points_missing = "Wrong input arguments number: X and Y are required for specified action";
%! e.minima = "Wrong minima number: must be a scalar >=2";
%! e.value = "Wrong global minimizer value: must be a scalar";
%! e.distance = "Wrong distance: must be a scalar > 0";
%! e.radius = "Wrong radius: must be a scalar > 0";
%! e.test = "Wrong test number: must be an integer 0 < i <= 100";
%! e.shape = "Wrong target points matrix dimension: must have the same dimension";
%! e.point_type = "Wrong target points matrix type: must be real double";
%! e.single_point = "Wrong target points matrix dimension for specified action: must be a sigle point";
%! e.first_index = "Wrong first partial derivative index";
%! e.second_index = "Wrong second partial derivative index";
%! e.generation = "Internal error generating the function: check input data to be consistent";

%!test
%! ## Every check fails at first; mending one input at a time brings the
%! ## message of the next check.
%! in = {1, [-1 -1], 0, 0, "d2_deriv2", 0.5, int32([1 2 3; 4 5 6]), zeros(3, 2), -1, 3, 0};
%! travo_expect_error (e.too_many_inputs, in{1:11});
%! travo_expect_error (e.too_few_inputs, in{1:5});
%! try
%!   [a, b] = travo (in{1:10});
%!   error ("two outputs were accepted");
%! catch err
%!   assert (err.message, ["travo: " e.too_many_outputs]);
%! end_try_catch
%! travo_expect_error (e.action_string, in{1:10});
%! in{5} = 10;
%! travo_expect_error (e.action_number, in{1:10});
%! in{5} = "D2_deriv2";
%! travo_expect_error (e.input_count, in{1:9});
%! travo_expect_error (e.minima, in{1:10});
%! in{1} = 10;
%! travo_expect_error (e.value, in{1:10});
%! in{2} = -1;
%! travo_expect_error (e.distance, in{1:10});
%! in{3} = 2/3;
%! travo_expect_error (e.radius, in{1:10});
%! in{4} = 1/3;
%! travo_expect_error (e.test, in{1:10});
%! in{6} = 1;
%! travo_expect_error (e.shape, in{1:10});
%! in{8} = zeros (2, 3);
%! travo_expect_error (e.point_type, in{1:10});
%! in{7} = double (in{7}) / 10;
%! travo_expect_error (e.first_index, in{1:10});
%! in{9} = 1;
%! travo_expect_error (e.second_index, in{1:10});
%! in{10} = 2;
%! in{2} = 0;
%! travo_expect_error (e.generation, in{1:10});
%! in{2} = -1;
%! assert (size (travo (in{1:10})), [2 3]);

%!test
%! ## The single-point rule, after the shape check and before the indices.
%! for a = {"D_gradient", "D2_gradient", "D2_hessian", 7, 8, 9}
%!   travo_expect_error (e.single_point, p{:}, a{1}, 1, [0 0], [0 0]);
%!   travo_expect_error (e.single_point, p{:}, a{1}, 1, [], []);
%!   travo_expect_error (e.shape, p{:}, a{1}, 1, [0 0], [0; 0]);
%! endfor
%! travo_expect_error (e.minima, 1, -1, 2/3, 1/3, "D_gradient", 1, [0 0], [0 0]);

%!test
%! ## Input counts of the actions.
%! travo_expect_error (e.input_count, p{:}, "D_deriv", 1, 0, 0);
%! travo_expect_error (e.input_count, p{:}, "D2_deriv1", 1, 0, 0, 1, 1);
%! travo_expect_error (e.input_count, p{:}, "D2_deriv2", 1, 0, 0, 1);
%! ## The count comes before a bad minima count and a bad index.
%! travo_expect_error (e.input_count, 1, -1, 2/3, 1/3, "D_deriv", 1, 0, 0, 7, 7);
%! for a = {"ND_func", "D_func", "D2_func", "D_gradient", "D2_gradient", "D2_hessian"}
%!   travo_expect_error (e.points_missing, p{:}, a{1}, 1);
%!   travo_expect_error (e.points_missing, p{:}, a{1}, 1, 0);
%! endfor

%!test
%! ## Action texts must match a name exactly.
%! for a = {"Info", "info ", " info", "D_grad", "", "d2_hessian", ["info", char(0)], ["if"; "no"]}
%!   travo_expect_error (e.action_string, p{:}, a{1}, 1);
%! endfor
%! ## Numbers: one real double whose floor is 0 to 9.
%! for a = {10, -0.5, NaN, Inf, -Inf, true, int8(1), uint32(3), single(1), complex(1, 0), ...
%!          [1 2], [], sparse(1), {1}, struct("a", 1)}
%!   travo_expect_error (e.action_number, p{:}, a{1}, 1);
%! endfor

%!test
%! ## Every parameter must be one real double; integer-valued ones are taken
%! ## by floor and range-checked before any conversion.
%! bad = {[3 3], [], complex(3, 0), int32(3), true, single(3), sparse(3), {3}, struct("a", 3), "3"};
%! for k = 1:numel (bad)
%!   travo_expect_error (e.minima, bad{k}, p{2:4}, "info", 1);
%!   travo_expect_error (e.value, p{1}, bad{k}, p{3:4}, "info", 1);
%!   travo_expect_error (e.distance, p{1:2}, bad{k}, p{4}, "info", 1);
%!   travo_expect_error (e.radius, p{1:3}, bad{k}, "info", 1);
%!   travo_expect_error (e.test, p{:}, "info", bad{k});
%! endfor
%! for m = [1.99, 1, 0, -3, 2^32, 1e300, NaN, Inf, -Inf]
%!   travo_expect_error (e.minima, m, p{2:4}, "info", 1);
%! endfor
%! for t = [0.5, 0, -1, 101, 2^31, NaN, Inf, -Inf]
%!   travo_expect_error (e.test, p{:}, "info", t);
%! endfor
%! travo_expect_error (e.distance, p{1:2}, 0, p{4}, "info", 1);
%! travo_expect_error (e.radius, p{1:3}, -Inf, "info", 1);
%! ## Consistency is generation's business.
%! travo_expect_error (e.generation, 10, -1, 1.0, 0.2, "info", 1);
%! travo_expect_error (e.generation, 10, 0, 2/3, 1/3, "info", 1);
%! travo_expect_error (e.generation, 2^32 - 1, p{2:4}, "info", 1);

%!test
%! ## X and Y of the point actions must be real double matrices.
%! bad = {int8(0), uint16(0), int32(0), uint64(0), single(0), true, "a", complex(0, 1), ...
%!        sparse(0.5), {0}, struct("a", 0)};
%! for k = 1:numel (bad)
%!   travo_expect_error (e.point_type, p{:}, "D2_func", 1, bad{k}, 0);
%!   travo_expect_error (e.point_type, p{:}, "D2_hessian", 1, 0, bad{k});
%! endfor

%!test
%! ## Derivative indices: floor from 0 to 2.
%! for i = {3, -1, -0.5, 2^31, NaN, Inf, [1 2], int8(1), true, complex(1, 0), "1"}
%!   travo_expect_error (e.first_index, p{:}, "D_deriv", 1, 0, 0, i{1});
%!   travo_expect_error (e.first_index, p{:}, "D2_deriv2", 1, 0, 0, i{1}, 1);
%!   travo_expect_error (e.second_index, p{:}, "D2_deriv2", 1, 0, 0, 1, i{1});
%! endfor
%! travo_expect_error (e.minima, 1, -1, 2/3, 1/3, "D_deriv", 1, 0, 0, 3);
