function travo_soak (calls, baseline_at, max_growth_kb)
  % Calls travo CALLS times with a mix of good and bad inputs of every
  % action, checks every answer, and compares the resident memory of this
  % Octave process after BASELINE_AT calls with the memory at the end.
  % Fails with an error when an answer is wrong or the memory grew by more
  % than MAX_GROWTH_KB. The default allows 20 bytes per call, at least
  % 512 KiB: Octave's own loops grow by about 5 bytes per iteration, and a
  % block left behind by every call, even the smallest, costs 32 or more.
  if (nargin < 1)
    calls = 100000;
  endif
  if (nargin < 2)
    baseline_at = min (10000, floor (calls / 10));
  endif
  if (nargin < 3)
    max_growth_kb = max (512, 0.02 * (calls - baseline_at));
  endif
  cases = soak_cases ();
  wrong = 0;
  rss_start = rss_kb ();
  rss_base = NaN;
  t0 = tic ();
  for k = 1:calls
    c = cases{mod (k - 1, numel (cases)) + 1};
    args = c.args;
    if (numel (args) >= 6 && isequal (args{6}, 1))
      args{6} = mod (k, 100) + 1;   % a new member on every call
    endif
    try
      if (c.nargout == 2)
        [r, s] = travo (args{:});
      else
        r = travo (args{:});
      endif
      if (! isempty (c.message) || ! isequal (size (r), c.size) || ! isreal (r) || ! isa (r, "double"))
        wrong++;
        printf ("call %d (%s): unexpected result of size %s\n", k, c.name, mat2str (size (r)));
      endif
    catch err
      if (! strcmp (err.message, ["travo: ", c.message]))
        wrong++;
        printf ("call %d (%s): unexpected error \"%s\"\n", k, c.name, err.message);
      endif
    end_try_catch
    if (k == baseline_at)
      rss_base = rss_kb ();
    endif
  endfor
  rss_end = rss_kb ();
  printf ("travo soak: %d calls in %.1f s, %d cases, %d wrong answers\n", calls, toc (t0), numel (cases), wrong);
  printf ("resident memory: %d kB at start, %d kB after %d calls, %d kB after %d calls\n",
          rss_start, rss_base, baseline_at, rss_end, calls);
  growth = rss_end - rss_base;
  printf ("growth from call %d to call %d: %d kB\n", baseline_at, calls, growth);
  if (wrong > 0)
    error ("travo soak: %d wrong answers", wrong);
  endif
  if (! (growth <= max_growth_kb))
    error ("travo soak: resident memory grew by %d kB", growth);
  endif
endfunction

function kb = rss_kb ()
  status = fileread ("/proc/self/status");
  kb = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
endfunction

function cases = soak_cases ()
  % Good calls of every action, by name and by number, and one bad call for
  % every message that Octave can bring about.
  p = {10, -1, 2/3, 1/3};
  X = [-0.9 -0.3 0.2 0.7; 0.1 0.4 -0.6 0.95; -1.2 0 0.5 -0.2];
  Y = X.';
  Y = reshape (Y(:), 3, 4);
  names = {"info", "ND_func", "D_func", "D2_func", "D_deriv", "D2_deriv1", "D2_deriv2", ...
           "D_gradient", "D2_gradient", "D2_hessian"};
  cases = {};
  for a = 0:9
    for by_name = [true, false]
      if (by_name)
        act = names{a + 1};
      else
        act = a;
      endif
      args = [p, {act, 1}];
      if (a == 0)
        sz = [10, 4];
      elseif (a >= 7)
        args = [args, {0.3, -0.45}];
        sz = [2, 1 + (a == 9)];
      else
        args = [args, {X, Y}];
        sz = size (X);
        if (a >= 4)
          args{end + 1} = 1 + by_name;
        endif
        if (a == 6)
          args{end + 1} = 2;
        endif
      endif
      cases{end + 1} = good_case (names{a + 1}, args, sz);
    endfor
  endfor
  cases{end + 1} = good_case ("info with 200 minima", {200, -2, 0.5, 0.2, "info", 1}, [200, 4]);
  cases{end + 1} = good_case ("2500 points", {10, -1, 2/3, 1/3, "D2_func", 1, rand(50) * 2 - 1, rand(50) * 2 - 1}, [50, 50]);
  cases{end + 1} = good_case ("no points", {10, -1, 2/3, 1/3, "ND_func", 1, zeros(0, 3), zeros(0, 3)}, [0, 3]);
  cases{end + 1} = bad_case ("11 inputs", "Too many input arguments.", [p, {"info", 1, 0, 0, 1, 2, 3}]);
  cases{end + 1} = bad_case ("5 inputs", "Too few input arguments.", [p, {"info"}]);
  c = bad_case ("2 outputs", "Too many output arguments.", [p, {"info", 1}]);
  c.nargout = 2;
  cases{end + 1} = c;
  cases{end + 1} = bad_case ("action text", "Wrong action string", [p, {"D2_hessian ", 1}]);
  cases{end + 1} = bad_case ("action number", "Wrong action number", [p, {NaN, 1}]);
  cases{end + 1} = bad_case ("derivative inputs", "Wrong input arguments number", [p, {"D2_deriv2", 1, 0, 0, 1}]);
  cases{end + 1} = bad_case ("no points", "Wrong input arguments number: X and Y are required for specified action", [p, {"D_gradient", 1, 0}]);
  cases{end + 1} = bad_case ("minima", "Wrong minima number: must be a scalar >=2", [{int32(10)}, p(2:4), {"info", 1}]);
  cases{end + 1} = bad_case ("value", "Wrong global minimizer value: must be a scalar", {10, complex(-1, 0), 2/3, 1/3, "info", 1});
  cases{end + 1} = bad_case ("distance", "Wrong distance: must be a scalar > 0", {10, -1, -Inf, 1/3, "info", 1});
  cases{end + 1} = bad_case ("radius", "Wrong radius: must be a scalar > 0", {10, -1, 2/3, {1}, "info", 1});
  cases{end + 1} = bad_case ("test number", "Wrong test number: must be an integer 0 < i <= 100", [p, {"info", 101}]);
  cases{end + 1} = bad_case ("shape", "Wrong target points matrix dimension: must have the same dimension", [p, {"ND_func", 1, X, X.'}]);
  cases{end + 1} = bad_case ("type", "Wrong target points matrix type: must be real double", [p, {"D_func", 1, single(X), X}]);
  cases{end + 1} = bad_case ("single point", "Wrong target points matrix dimension for specified action: must be a sigle point", [p, {"D2_hessian", 1, X, X}]);
  cases{end + 1} = bad_case ("first index", "Wrong first partial derivative index", [p, {"D2_deriv1", 1, X, X, 3}]);
  cases{end + 1} = bad_case ("second index", "Wrong second partial derivative index", [p, {"D2_deriv2", 1, X, X, 1, [1 2]}]);
  cases{end + 1} = bad_case ("generation", "Internal error generating the function: check input data to be consistent", {10, -1, 1, 0.3, "D2_func", 1, X, X});
endfunction

function c = good_case (name, args, sz)
  c = struct ("name", name, "args", {args}, "nargout", 1, "message", "", "size", sz);
endfunction

function c = bad_case (name, message, args)
  c = struct ("name", name, "args", {args}, "nargout", 1, "message", message, "size", [0, 0]);
endfunction
