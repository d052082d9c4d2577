# Sourced by the install and package checks: the files an installation holds,
# one "TYPE PATH" line each (f a file, l a link "-> target"), relative to the
# prefix, by install component, each of which one Debian package holds (see
# cmake/install.cmake). Needs version, major, bindir, libdir, includedir,
# mandir, docdir and the programs array; python_dir and the python_files array
# when the Python package is built; web_page when the browser page is.
installed_components() {
  echo core c dev tools license
  [ ${#python_files[@]} -eq 0 ] || echo python
}

component_files() {
  local library
  case $1 in
    core | c)
      library=mintcore; [ "$1" = c ] && library=mint
      printf '%s\n' \
        "f $libdir/lib$library.so.$version" \
        "l $libdir/lib$library.so.$major -> lib$library.so.$version" ;;
    dev)
      for library in mintcore mint; do
        printf '%s\n' \
          "f $includedir/$library.h" \
          "l $libdir/lib$library.so -> lib$library.so.$major" \
          "f $libdir/cmake/$library/${library}Config.cmake" \
          "f $libdir/cmake/$library/${library}ConfigVersion.cmake" \
          "f $libdir/cmake/$library/${library}Targets.cmake" \
          "f $libdir/cmake/$library/${library}Targets-CONFIG.cmake" \
          "f $libdir/pkgconfig/$library.pc"
      done ;;
    tools)
      for program in "${programs[@]}"; do
        printf '%s\n' "f $bindir/$program" "f $mandir/man1/$program.1.gz"
      done
      [ -z "${web_page:-}" ] || echo "f $web_page" ;;
    license)
      echo "f $docdir/LICENSE" ;;
    python)
      for file in "${python_files[@]}"; do
        echo "f $python_dir/$file"
      done ;;
    *) echo "unknown component $1" >&2; return 1 ;;
  esac
}

expected_installed_files() {
  local component
  for component in $(installed_components); do
    component_files "$component"
  done
}

# The Python options both checks take, parsed by python_argument:
#   --python=INTERPRETER --python-file=NAME ... (relative to the site
#   directory) and either
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
# for, derives the first worked example and reads the package's metadata.
check_python_package() {
  local directory=$1 what=$2 output
  output=$(cd / && PYTHONPATH=$directory PYTHONDONTWRITEBYTECODE=1 "$python" -c '
from importlib import metadata
import mint
print(mint.__file__)
print(metadata.version("mint"), metadata.metadata("mint")["License"])
print(mint.uuid(patient_name="Jane Doe", patient_ssn="123-45-6789", patient_gender=2,
                patient_birth_year=1970, patient_birth_month=1, patient_birth_day=31))') \
    || fail "$what: the Python package does not import"
  local lines
  mapfile -t lines <<< "$output"
  [ "${lines[0]}" = "$directory/mint/__init__.py" ] || fail "$what: mint imported from ${lines[0]}"
  [ "${lines[1]}" = "$version MIT" ] || fail "$what: the Python package's metadata gives version and licence '${lines[1]}'"
  [ "${lines[2]}" = uc1kb3lfu4p3 ] || fail "$what: the Python package gives '${lines[2]}'"
}
