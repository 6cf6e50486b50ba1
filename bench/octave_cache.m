% Times a repeated single-point call travo(m, -1, 2/3, 1/3, "D2_func", 1, x, y)
% from Octave, answered from the member the module keeps, against two
% trivial extension modules that take the same eight inputs and return one
% number (written and built here with mkoctfile): trivial_xy reads only X
% and Y; trivial_all reads every input, as an entry that checks its inputs
% must (the action text and the seven numbers). m = 10, 1 000 and 100 000.
%
% Writes the load average ("load a b c"), then one line "m travo_seconds
% trivial_xy_seconds trivial_all_seconds" per m to out_file: the time per call, the shortest mean over
% `repetitions` loops of 2 000 calls (the loops alternate, so that the
% three modules see the same load).
%
%   octave --eval "addpath('<build>/mex'); addpath('bench'); octave_cache('octave_cache.txt', 15)"
function octave_cache(out_file, repetitions)
  if nargin < 2
    repetitions = 15;
  end
  dir = tempname();
  mkdir(dir);
  cleanup = onCleanup(@() remove_folder(dir));
  write_module(dir, 'trivial_xy', ...
    '    plhs[0] = mxCreateDoubleScalar(*mxGetPr(prhs[6]) + *mxGetPr(prhs[7]));');
  write_module(dir, 'trivial_all', sprintf('%s\n', ...
    '    char name[32];', ...
    '    double s = 0.0;', ...
    '    mxGetString(prhs[4], name, sizeof name);', ...
    '    for (int k = 0; k < 8; k++)', ...
    '        if (k != 4 && mxIsDouble(prhs[k]) && mxGetM(prhs[k]) == 1 && mxGetN(prhs[k]) == 1) s += *mxGetPr(prhs[k]);', ...
    '    plhs[0] = mxCreateDoubleScalar(s + name[0]);'));
  addpath(dir);
  calls = 2000;
  fid = fopen(out_file, 'w');
  if fid < 0
    error('octave_cache: cannot write %s', out_file);
  end
  loadavg = strsplit(strtrim(fileread('/proc/loadavg')));
  fprintf(fid, 'load %s %s %s\n', loadavg{1:3});
  for m = [10 1000 100000]
    travo(m, -1, 2/3, 1/3, 'D2_func', 1, 0.1, 0.2);  % generates and keeps the member
    % The loops are written out: a function handle would add its own cost.
    t = Inf(1, 3);
    for r = 1:repetitions
      t0 = tic;
      for k = 1:calls
        travo(m, -1, 2/3, 1/3, 'D2_func', 1, 0.1, 0.2);
      end
      t(1) = min(t(1), toc(t0) / calls);
      t0 = tic;
      for k = 1:calls
        trivial_xy(m, -1, 2/3, 1/3, 'D2_func', 1, 0.1, 0.2);
      end
      t(2) = min(t(2), toc(t0) / calls);
      t0 = tic;
      for k = 1:calls
        trivial_all(m, -1, 2/3, 1/3, 'D2_func', 1, 0.1, 0.2);
      end
      t(3) = min(t(3), toc(t0) / calls);
    end
    fprintf(fid, '%d %.9g %.9g %.9g\n', m, t);
    printf('m = %d: travo %.3g us, trivial_xy %.3g us, trivial_all %.3g us per call\n', m, 1e6 * t);
  end
  fclose(fid);
  rmpath(dir);
end

function write_module(dir, name, body)
  fid = fopen(fullfile(dir, [name '.c']), 'w');
  fprintf(fid, '#include "mex.h"\n');
  fprintf(fid, 'void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {\n');
  fprintf(fid, '    (void)nlhs;\n');
  fprintf(fid, '    if (nrhs != 8) mexErrMsgTxt("eight inputs");\n');
  fprintf(fid, '%s\n}\n', body);
  fclose(fid);
  [status, out] = system(sprintf('cd "%s" && mkoctfile --mex %s.c 2>&1', dir, name));
  if status ~= 0
    error('octave_cache: building %s failed: %s', name, out);
  end
end

function remove_folder(dir)
  confirm_recursive_rmdir(false, 'local');
  rmdir(dir, 's');
end
