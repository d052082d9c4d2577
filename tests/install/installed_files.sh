# Sourced by the install and package checks: the files an installation holds,
# one "TYPE PATH" line each (f a file, l a link "-> target"), relative to the
# prefix. Needs version, major, bindir, libdir, includedir, mandir and the
# programs array.
expected_installed_files() {
  printf '%s\n' \
    "f $includedir/mintcore.h" \
    "f $libdir/libmintcore.so.$version" \
    "l $libdir/libmintcore.so.$major -> libmintcore.so.$version" \
    "l $libdir/libmintcore.so -> libmintcore.so.$major" \
    "f $libdir/cmake/mintcore/mintcoreConfig.cmake" \
    "f $libdir/cmake/mintcore/mintcoreConfigVersion.cmake" \
    "f $libdir/cmake/mintcore/mintcoreTargets.cmake" \
    "f $libdir/cmake/mintcore/mintcoreTargets-CONFIG.cmake" \
    "f $libdir/pkgconfig/mintcore.pc" \
    "f $includedir/mint.h" \
    "f $libdir/libmint.so.$version" \
    "l $libdir/libmint.so.$major -> libmint.so.$version" \
    "l $libdir/libmint.so -> libmint.so.$major" \
    "f $libdir/cmake/mint/mintConfig.cmake" \
    "f $libdir/cmake/mint/mintConfigVersion.cmake" \
    "f $libdir/cmake/mint/mintTargets.cmake" \
    "f $libdir/cmake/mint/mintTargets-CONFIG.cmake" \
    "f $libdir/pkgconfig/mint.pc"
  for program in "${programs[@]}"; do
    printf '%s\n' "f $bindir/$program" "f $mandir/man1/$program.1"
  done
}
