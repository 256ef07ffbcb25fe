# Shared by the command-line check scripts: named checks, counted, and the closing line.
passed=0
failed=0

# check NAME CONDITION...: runs the condition; a failure is named on standard error.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}

# True when FILE holds exactly TEXT (a final line feed aside).
same_text() { [[ "$(cat "$1" 2>/dev/null)" == "$2" ]]; }

# True when FOLDER holds no temporary output file (.NAME.XXXXXX).
no_temporary_files() { ! compgen -G "$1/.*.??????" >/dev/null; }

# Prints the counts and fails when any check failed.
finish_checks() {
  echo "$passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}
