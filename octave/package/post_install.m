function post_install (desc)
  % Puts the help texts travo.m and travo_member.m beside the modules: Octave
  % reads the help of a .mex file from the .m file of the same name in the
  % same folder, and "pkg install" puts .m files and modules in different
  % folders. Runs in the unpacked package, whose help/ folder holds them.
  arch = [__octave_config_info__("canonical_host_type"), "-", __octave_config_info__("api_version")];
  archdir = fullfile (desc.archprefix, arch);
  for f = {"travo.m", "travo_member.m"}
    [ok, msg] = copyfile (fullfile ("help", f{1}), archdir);
    if (! ok)
      error ("travo: cannot put %s beside the modules in %s: %s", f{1}, archdir, msg);
    endif
  endfor
endfunction
