% Times the Octave call travo(10, -1, 2/3, 1/3, "D2_func", 1, X, Y) for 1,
% 1 000 and 1 000 000 points and writes one line "points seconds" per size
% to out_file: the shortest of `repetitions` calls (more for small sizes),
% as each call is timed with tic and toc on a shared machine.
%
% The points are those of bench/batch_bench.cpp: for k = 0 .. count-1,
% x = -1 + 2 frac(k a1), y = -1 + 2 frac(k a2).
%
%   octave --eval "addpath('<build>/mex'); addpath('bench'); octave_host('octave.txt', 5)"
function octave_host(out_file, repetitions)
  if nargin < 2
    repetitions = 5;
  end
  a1 = 0.7548776662466927;
  a2 = 0.5698402909980532;
  fid = fopen(out_file, 'w');
  if fid < 0
    error('octave_host: cannot write %s', out_file);
  end
  for count = [1 1000 1000000]
    k = (0:count - 1)';
    u = k * a1;
    v = k * a2;
    X = -1 + 2 * (u - floor(u));
    Y = -1 + 2 * (v - floor(v));
    travo(10, -1, 2/3, 1/3, "D2_func", 1, X, Y);  % warm-up
    best = Inf;
    for r = 1:max(repetitions, ceil(2000 / count))
      t = tic;
      Z = travo(10, -1, 2/3, 1/3, "D2_func", 1, X, Y);
      best = min(best, toc(t));
    end
    if numel(Z) ~= count
      error('octave_host: %d values for %d points', numel(Z), count);
    end
    fprintf(fid, '%d %.9g\n', count, best);
  end
  fclose(fid);
end
