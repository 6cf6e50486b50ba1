function travo_package_test (tarball)
  % Installs the package TARBALL into a temporary package prefix, loads it
  % and calls every entry, both help texts and the examples; ends Octave
  % with status 0 only when all of it works.
  prefix = tempname ();
  mkdir (prefix);
  unwind_protect
    pkg ("prefix", prefix, prefix);
    pkg ("local_list", fullfile (prefix, "octave_packages"));
    pkg ("install", "-local", tarball);
    pkg ("load", "travo");
    where = fileparts (which ("travo"));
    assert (strncmp (where, prefix, numel (prefix)), ["travo comes from ", where]);

    assert (size (travo (10, -1, 2/3, 1/3, "info", 1)), [10 4]);
    P = struct ("dim", 5, "minima", 20, "test", 3);
    T = travo_member (P, "info");
    assert (travo_member (P, "value", "D2", T(2, 3:end)), T(2, 1));

    for f = {"travo", "travo_member"}
      text = help (f{1});
      assert (! isempty (strfind (text, [f{1}, " ("])), ["help ", f{1}]);
    endfor

    minimise_5d ();
    figure ("visible", "off");
    contour_d2 ();
    png = [tempname(), ".png"];
    print ("-dpng", png);
    assert (exist (png, "file") == 2);
    delete (png);
    close all;
    pkg ("unload", "travo");
    printf ("travo package: installed, loaded and called from %s\n", where);
  unwind_protect_cleanup
    confirm_recursive_rmdir (false, "local");
    rmdir (prefix, "s");
  end_unwind_protect
endfunction
