#!/usr/bin/env bash
# Formatting and static analysis with the checked-in .clang-format and .clang-tidy.
#   tools/lint.sh --check   fails when a C++ file under src/ app/ tests/ bench/ fuzz/ is not formatted,
#                           then runs clang-tidy over the sources under src/ and app/ (needs
#                           build/compile_commands.json, which every configure of build/ writes)
#   tools/lint.sh --fix     formats those files in place
# TIDY_PATHS="src/expr src/text" narrows the clang-tidy run to some folders.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=""
for arg in "$@"; do
  case "$arg" in
    --check) mode=check ;;
    --fix) mode=fix ;;
    *) mode="" ; break ;;
  esac
done
if [[ -z $mode || $# -ne 1 ]]; then
  echo "usage: tools/lint.sh --check | --fix" >&2
  exit 2
fi

clang_format=clang-format-14
clang_tidy=clang-tidy-14
for tool in "$clang_format" "$clang_tidy"; do
  command -v "$tool" >/dev/null || { echo "lint.sh: $tool is not installed" >&2; exit 2; }
done

format_files() {
  local folders=()
  for folder in src app tests bench fuzz; do
    [[ -d $folder ]] && folders+=("$folder")
  done
  find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' \) -print0 | sort -z
}

if [[ $mode == fix ]]; then
  format_files | xargs -0 -r "$clang_format" -i --style=file
  exit 0
fi

status=0
echo "clang-format: checking the formatting"
format_files | xargs -0 -r "$clang_format" --dry-run -Werror --style=file || status=1

if [[ ! -f build/compile_commands.json ]]; then
  echo "lint.sh: build/compile_commands.json is missing; configure build/ first" >&2
  exit 2
fi
read -r -a tidy_paths <<<"${TIDY_PATHS:-src app}"
mapfile -d '' sources < <(find "${tidy_paths[@]}" -type f -name '*.cpp' -print0 | sort -z)
echo "clang-tidy: ${#sources[@]} files"
if command -v run-clang-tidy-14 >/dev/null; then
  # run-clang-tidy takes regular expressions; the files are listed exactly.
  patterns=()
  for source in "${sources[@]}"; do
    patterns+=("$(realpath "$source" | sed 's/[][\.*^$+?(){}|]/\\&/g')\$")
  done
  run-clang-tidy-14 -quiet -j 2 -p build -clang-tidy-binary "$(command -v "$clang_tidy")" "${patterns[@]}" ||
    status=1
else
  printf '%s\0' "${sources[@]}" | xargs -0 -r -n 4 -P 2 "$clang_tidy" -quiet -p build || status=1
fi

exit $status
