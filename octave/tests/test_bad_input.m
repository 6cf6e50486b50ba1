## The host entry examples of docs/bad-input.md, run in Octave: each gives
## the message or the values documented in its row. Rows that need a failing
## host allocation cannot be forced here and are left to the C++ tests.

%!function rows = doc_rows (header)
%!  ## Body rows of the tables of the "Host entry" section whose header
%!  ## starts with `header`, as cell arrays of trimmed cells.
%!  lines = strsplit (fileread (getenv ("TRAVO_BAD_INPUT_DOC")), "\n");
%!  rows = {};
%!  inside = false;
%!  current = "";
%!  for k = 1:numel (lines)
%!    line = lines{k};
%!    if (strncmp (line, "## ", 3))
%!      inside = strncmp (line, "## Host entry", 13);
%!      continue;
%!    endif
%!    if (! inside || isempty (line) || line(1) != "|")
%!      current = "";
%!      continue;
%!    endif
%!    cells = strtrim (strsplit (line(2:end-1), "|"));
%!    if (isempty (current))
%!      current = cells{1};
%!    elseif (strcmp (current, header) && ! strncmp (cells{1}, "---", 3))
%!      rows{end+1} = cells;
%!    endif
%!  endfor
%!endfunction

%!function code = first_code (cell)
%!  code = regexp (cell, '`([^`]*)`', "tokens", "once"){1};
%!endfunction

%!test
%! rows = doc_rows ("Message");
%! assert (numel (rows) >= 17);
%! for k = 1:numel (rows)
%!   if (! isempty (strfind (rows{k}{3}, "host allocation fails")))
%!     continue;
%!   endif
%!   expected = ["travo: ", rows{k}{1}(2:end-1)];
%!   code = first_code (rows{k}{3});
%!   try
%!     eval ([code, ";"]);
%!     error ("no error from %s", code);
%!   catch err
%!     assert (err.message, expected, ["in ", code]);
%!   end_try_catch
%! endfor

%!test
%! rows = doc_rows ("Input");
%! assert (numel (rows) >= 1);
%! for k = 1:numel (rows)
%!   got = eval (first_code (rows{k}{2}));
%!   want = eval (first_code (rows{k}{3}));
%!   assert (size (got), size (want));
%!   same = (isnan (got) & isnan (want)) | abs (got - want) <= 1e-9 * max (1, abs (want));
%!   assert (all (same(:)), ["in ", first_code(rows{k}{2})]);
%! endfor
