## travo_member.mex: its defaults, its results against the C++ interface bit
## for bit in several dimensions and boxes, the shapes of its results, and
## every refusal of docs/bad-input.md ("Member entry" section).

%!function same (a, b, what)
%!  assert (isequal (size (a), size (b)) && isequal (typecast (a(:), "uint64"), typecast (b(:), "uint64")), what);
%!endfunction

%!function check_member (P)
%!  ## Every action on the member P (all fields given, bounds as rows) against
%!  ## the C++ interface run by member_reference, at 40 points spread over the
%!  ## box, the minimizers, and points just outside.
%!  n = P.dim;
%!  T = travo_member (P, "info");
%!  rand ("seed", 3);
%!  X = [P.lower + rand(40, n) .* (P.upper - P.lower); T(:, 3:end); T(1:2, 3:end) + 0.01; ...
%!       P.upper + 5e-11; P.upper + 1e-9];
%!  ## A distance or radius left out is "-", derived by the C++ interface.
%!  dr = {"-", "-"};
%!  for f = find (isfield (P, {"distance", "radius"}))
%!    dr{f} = sprintf ("%.17g", P.({"distance", "radius"}{f}));
%!  endfor
%!  args = sprintf (" %.17g", [P.test, P.lower, P.upper, reshape(X.', 1, [])]);
%!  [status, out] = system (sprintf ("\"%s\" %d %.17g %.17g %s %s%s", getenv ("TRAVO_MEMBER_REFERENCE"), n, P.minima, ...
%!                                   P.global_value, dr{:}, args));
%!  assert (status, 0, out);
%!  v = sscanf (out, "%f");
%!  m = v(1);
%!  same (T, reshape (v(2:1 + m * (n + 2)), n + 2, m).', "info");
%!  same (travo_member (P, "delta"), v(2 + m * (n + 2)), "delta");
%!  ref = reshape (v(3 + m * (n + 2):end), [], rows (X)).';
%!  same ([travo_member(P, "value", "ND", X), travo_member(P, "value", "D", X), travo_member(P, "value", "D2", X), ...
%!         travo_member(P, "gradient", "D", X), travo_member(P, "gradient", "D2", X)], ref(:, 1:3 + 2 * n), "values");
%!  same (travo_member (P, "hessian", X), permute (reshape (ref(:, 4 + 2 * n:end - 1).', n, n, []), [2 1 3]), "H");
%!  same (travo_member (P, "region", X), ref(:, end) + 1, "region");
%!endfunction

%!test
%! ## The default member is travo's, bit for bit.
%! same (travo_member ([], "info"), travo (10, -1, 2/3, 1/3, "info", 1), "info");
%! [x, y] = meshgrid (linspace (-1, 1, 9));
%! same (travo_member (struct (), "value", "D2", [x(:), y(:)]), travo (10, -1, 2/3, 1/3, "D2_func", 1, x(:), y(:)), "values");
%! ## Dimension alone, or bounds alone, take the other defaults from the box.
%! full = struct ("dim", 5, "minima", 10, "global_value", -1, "distance", 2/3, "radius", 1/3, "lower", -1, "upper", 1, "test", 1);
%! same (travo_member (struct ("dim", 5), "info"), travo_member (full, "info"), "dim 5");
%! same (travo_member (struct ("lower", [0 0 0], "upper", [3 6 9]), "info"), ...
%!       travo_member (struct ("dim", 3, "lower", 0, "upper", [3 6 9], "distance", 1, "radius", 0.5), "info"), "box");

%!test
%! ## Against the C++ interface, in several dimensions and boxes; members
%! ## searched in blocks, by the index, and in more than 16 dimensions; a
%! ## wide box and a distance without a radius, derived alike.
%! Ps = {struct("dim", 2, "minima", 10, "global_value", -1, "distance", 2/3, "radius", 1/3, "lower", [-1 -1], "upper", [1 1], "test", 3), ...
%!       struct("dim", 3, "minima", 25, "global_value", -3, "distance", 0.3, "radius", 0.1, "lower", [0 0 0], "upper", [4 1 2], "test", 42), ...
%!       struct("dim", 5, "minima", 30, "global_value", -2, "distance", 1, "radius", 0.4, "lower", -2 * ones(1, 5), "upper", 3 * ones(1, 5), "test", 7), ...
%!       struct("dim", 2, "minima", 400, "global_value", -1, "distance", 0.5, "radius", 0.2, "lower", [-1 -2], "upper", [2 1], "test", 100), ...
%!       struct("dim", 17, "minima", 20, "global_value", -1, "distance", 0.6, "radius", 0.25, "lower", -ones(1, 17), "upper", ones(1, 17), "test", 1), ...
%!       struct("dim", 2, "minima", 10, "global_value", -1, "lower", [-1e7 -1e7], "upper", [1e7 1e7], "test", 1), ...
%!       struct("dim", 2, "minima", 10, "global_value", -1, "distance", 0.5, "lower", [-1 -1], "upper", [1 1], "test", 1)};
%! cellfun (@check_member, Ps);
%! ## No points give empty results of the right shape; global rows; ans.
%! P = struct ("dim", 4);
%! assert (size (travo_member (P, "value", "D", zeros (0, 4))), [0 1]);
%! assert (size (travo_member (P, "gradient", "D2", zeros (0, 4))), [0 4]);
%! assert (size (travo_member (P, "hessian", zeros (0, 4))), [4 4 0]);
%! assert (size (travo_member (P, "region", zeros (0, 4))), [0 1]);
%! assert (travo_member (P, "global"), 2);
%! ## A NaN coordinate lies outside the box.
%! assert (travo_member (P, "region", [NaN 0 0 0; 0 0 0 NaN]), [0; 0]);
%! assert (travo_member (P, "value", "ND", [0 NaN 0 0]), 1e100);
%! travo_member (P, "delta");
%! assert (isscalar (ans));

%!test
%! ## Every refusal of the documented table, with its exact message: the
%! ## first code span of a row's example is run as written.
%! text = regexp (fileread (getenv ("TRAVO_BAD_INPUT_DOC")), '\n## Member entry(.*?)\n## ', "tokens", "once"){1};
%! rows = regexp (text, '\n\| "([^\n]*?)" \| [^\n]*? \| `([^`\n]*)`', "tokens");
%! assert (numel (rows) >= 20);
%! for k = 1:numel (rows)
%!   try
%!     eval ([rows{k}{2}, ";"]);
%!     error ("no error from %s", rows{k}{2});
%!   catch err
%!     assert (err.message, ["travo_member: ", rows{k}{1}], ["in ", rows{k}{2}]);
%!   end_try_catch
%! endfor
