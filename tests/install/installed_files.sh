# Sourced by the install and package checks: the files an installation holds,
# one "TYPE PATH" line each (f a file, l a link "-> target"), relative to the
# prefix. Needs version, major, bindir, libdir, includedir, mandir and the
# programs array; python_dir and the python_files array when the Python
# package is built.
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
  for file in "${python_files[@]}"; do
    printf '%s\n' "f $python_dir/mint/$file"
  done
}

# The Python options both checks take, parsed by python_argument:
#   --python=INTERPRETER --python-file=NAME ... and either
#   --python-dir=DIR (fixed, relative to the prefix) or
#   --python-site-dir=SCRIPT (prints the directory for a given prefix).
python_files=()
python=
python_dir_fixed=
python_site_dir_script=
python_argument() {
  case $1 in
    --python=*) python=${1#*=} ;;
    --python-file=*) python_files+=("${1#*=}") ;;
    --python-dir=*) python_dir_fixed=${1#*=} ;;
    --python-site-dir=*) python_site_dir_script=${1#*=} ;;
    *) return 1 ;;
  esac
}

# Where the install rules put the Python package under prefix $1.
python_dir_for() {
  if [ -n "$python_dir_fixed" ]; then
    echo "$python_dir_fixed"
  elif [ ${#python_files[@]} -gt 0 ]; then
    "$python" "$python_site_dir_script" "$1"
  fi
}

# Imports the package from directory $1 with the interpreter it was built
# for, and derives the first worked example.
check_python_package() {
  local directory=$1 what=$2 identifier
  identifier=$(cd / && PYTHONPATH=$directory PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import mint
print(mint.__file__)
print(mint.uuid(patient_name="Jane Doe", patient_ssn="123-45-6789", patient_gender=2,
                patient_birth_year=1970, patient_birth_month=1, patient_birth_day=31))') \
    || fail "$what: the Python package does not import"
  [ "${identifier%%$'\n'*}" = "$directory/mint/__init__.py" ] || fail "$what: mint imported from ${identifier%%$'\n'*}"
  [ "${identifier##*$'\n'}" = uc1kb3lfu4p3 ] || fail "$what: the Python package gives '${identifier##*$'\n'}'"
}
