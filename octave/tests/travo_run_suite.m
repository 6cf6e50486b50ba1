function travo_run_suite (name)
  % Runs the test blocks of one suite file and ends Octave with status 0
  % only when every block passed.
  [npass, ntotal] = test (name, "quiet", stdout);
  printf ("%s: %d passed, %d failed\n", name, npass, ntotal - npass);
  exit (ntotal == 0 || npass < ntotal);
endfunction
