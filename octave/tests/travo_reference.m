function [table, values] = travo_reference (params, x, y)
  % Minima table and values of one member computed by the C library:
  % params = [minima, value, distance, radius, test]; one row of values per
  % point (x(k), y(k)), in the column order printed by reference_values.
  prog = getenv ("TRAVO_REFERENCE");
  if (isempty (prog))
    error ("TRAVO_REFERENCE names no reference program");
  endif
  cmd = sprintf ("\"%s\" %d %.17g %.17g %.17g %d", prog, params);
  cmd = [cmd, sprintf(" %.17g %.17g", [x(:).'; y(:).'])];
  [status, out] = system (cmd);
  if (status != 0)
    error ("reference program failed (%d): %s", status, out);
  endif
  v = sscanf (out, "%f");
  m = v(1);
  table = reshape (v(2:1 + 4 * m), 4, m).';
  values = reshape (v(2 + 4 * m:end), 19, []).';
endfunction
