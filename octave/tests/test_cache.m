## The members travo.mex keeps between calls: answers carry the bits of a
## fresh module's whatever came before, members that differ in any of their
## five numbers are never mixed, the memory kept stays bounded, and unloading
## the module gives it back (Octave runs mexAtExit on "clear travo", "clear
## functions" and "clear all"; its "clear mex" clears only a name "mex").

%!function kb = rss_kb ()
%!  kb = sscanf (regexp (fileread ("/proc/self/status"), 'VmRSS:\s*(\d+)', "tokens", "once"){1}, "%d");
%!endfunction

%!function r = answer (m, k, X, Y)
%!  ## Action k of the member of numbers m = {minima, value, distance, radius, test}.
%!  acts = {{"info"}, {"D2_func", X, Y}, {"ND_func", X, Y}, {"D2_deriv2", X, Y, 1, 2}, ...
%!          {"D_gradient", X(1), Y(1)}, {"D2_hessian", X(1), Y(1)}};
%!  a = acts{k};
%!  r = travo (m{1:4}, a{1}, m{5}, a{2:end});
%!endfunction

%!test
%! ## Twelve members, some a single bit apart, more than are kept at once;
%! ## each answer is compared bit for bit with one from a fresh module.
%! members = {{10, -1, 2/3, 1/3, 1}, {10.5, -1, 2/3, 1/3, 1}, {10, -1 - eps, 2/3, 1/3, 1}, ...
%!            {10, -1, 2/3 + eps, 1/3, 1}, {10, -1, 2/3, 1/3 - eps/2, 1}, {10, -1, 2/3, 1/3, 2}, ...
%!            {11, -1, 2/3, 1/3, 1}, {300, -2, 0.5, 0.2, 7}, {2, -0.5, 0.9, 0.4, 100}, ...
%!            {40, -1, 0.3, 0.1, 3}, {10, -1, 2/3, 1/3, 1.9}, {1000, -1, 0.6, 0.3, 5}};
%! [X, Y] = meshgrid (linspace (-0.9, 0.9, 5), linspace (-0.8, 0.95, 4));
%! fresh = cell (numel (members), 6);
%! for jk = 1:numel (fresh)
%!   [j, k] = ind2sub (size (fresh), jk);
%!   clear travo;
%!   fresh{jk} = answer (members{j}, k, X, Y);
%! endfor
%! clear travo;
%! rand ("seed", 7);
%! for step = 1:600
%!   [j, k] = ind2sub (size (fresh), floor (rand () * numel (fresh)) + 1);
%!   r = answer (members{j}, k, X, Y);
%!   assert (isequal (size (r), size (fresh{j, k})) && isequal (typecast (r(:), "uint64"), typecast (fresh{j, k}(:), "uint64")),
%!           sprintf ("step %d, member %d, action %d", step, j, k));
%! endfor
%! ## A refused member is never kept; the next good call is unaffected.
%! travo_expect_error ("Internal error generating the function: check input data to be consistent", 10, 0, 2/3, 1/3, "info", 1);
%! assert (isequal (answer (members{1}, 1, X, Y), fresh{1, 1}));

%!test
%! ## 10 000 distinct members in a row: memory stays bounded.
%! for k = 1:1000
%!   travo (mod (k, 50) + 2, -1, 2/3, 1/3, "D2_func", floor (k / 50) + 1, 0.1, 0.2);
%! endfor
%! base = rss_kb ();
%! for k = 1:10000
%!   travo (mod (k, 100) + 2, -1 - k * eps, 2/3, 1/3, "D2_func", mod (k, 97) + 1, 0.1, 0.2);
%! endfor
%! ## The sanitizer build keeps freed memory in quarantine and raises the limit.
%! assert (rss_kb () - base < max (2048, str2double (getenv ("TRAVO_RSS_LIMIT_KB"))));

%!test
%! ## A large kept member is given back by each form of clearing the module.
%! ## The test runs with a fixed mmap threshold, so that large blocks given
%! ## back leave the resident memory at once. "clear all" also clears this
%! ## test's variables: the numbers wait in the environment.
%! for how = {"travo", "functions", "all"}
%!   travo (300000, -1, 2/3, 1/3, "D2_func", 1, 0.1, 0.2);
%!   setenv ("TRAVO_HELD_KB", regexp (fileread ("/proc/self/status"), 'VmRSS:\s*(\d+)', "tokens", "once"){1});
%!   setenv ("TRAVO_CLEAR", how{1});
%!   eval (["clear ", how{1}]);
%!   now_kb = str2double (regexp (fileread ("/proc/self/status"), 'VmRSS:\s*(\d+)', "tokens", "once"){1});
%!   given_back = str2double (getenv ("TRAVO_HELD_KB")) - now_kb;
%!   assert (given_back > 10000, sprintf ("clear %s gave back %d kB", getenv ("TRAVO_CLEAR"), given_back));
%! endfor
