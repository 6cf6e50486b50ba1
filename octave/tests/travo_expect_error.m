function travo_expect_error (expected, varargin)
  % Calls travo with the given inputs and checks that it fails with exactly
  % the message expected (Octave puts the function name before it).
  try
    travo (varargin{:});
  catch err
    prefix = "travo: ";
    if (! strncmp (err.message, prefix, numel (prefix)))
      error ("unexpected error text: %s", err.message);
    endif
    actual = err.message(numel (prefix) + 1:end);
    if (! strcmp (actual, expected))
      error ("message \"%s\", expected \"%s\"", actual, expected);
    endif
    return;
  end_try_catch
  error ("travo succeeded; expected \"%s\"", expected);
endfunction
