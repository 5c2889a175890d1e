#!/usr/bin/env bash
# Installs the Debian packages Tamaril needs to build and test, when they are missing.
# Idempotent and quiet when everything is there; runs as root (or through sudo).
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config
  libicu-dev zlib1g-dev libsodium-dev libsqlite3-dev unixodbc-dev libfmt-dev libcli11-dev
  # database drivers: SQL Server through FreeTDS, and the drivers the tests use
  unixodbc tdsodbc odbc-postgresql libsqliteodbc
  # tests: GoogleTest, a PostgreSQL server for the ODBC suites, clang for the sanitizer runs,
  # python3 (its sqlite3 module builds the databases of the CLI structure test), strace (the
  # kill and full-disk tests inject signals and errors into the program's system calls),
  # html5lib (the import report is parsed as HTML5), locales (a Czech locale is built to run the
  # desktop's number texts under it)
  libgtest-dev libgmock-dev postgresql clang libclang-rt-14-dev python3 strace python3-html5lib locales
  # the full test mode's formatting and static analysis checks
  clang-format-14 clang-tidy-14
  # the baselines of the replication runs benchmark
  sqlite3
  # the desktop program: Qt 6 Widgets, a font with Czech letters; its screenshots run under Xvfb
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-dejavu-core xvfb xauth
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
