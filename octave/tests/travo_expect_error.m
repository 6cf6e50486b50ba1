function travo_expect_error (expected, varargin)
  % Calls travo with the given inputs and checks that it fails with exactly
  % the message expected, after the function name as Octave puts it.
  try
    travo (varargin{:});
  catch err
    assert (err.message, ["travo: ", expected]);
    return;
  end_try_catch
  error ("travo succeeded; expected \"%s\"", expected);
endfunction
