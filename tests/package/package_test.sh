#!/usr/bin/env bash
# Builds the .deb from the build folder, unpacks it into a temporary root and checks that the
# unpacked programs and files work on their own.
set -euo pipefail
build=$1
app_id=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >/dev/null
debs=("$tmp"/out/quibrel_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "no quibrel_VERSION_amd64.deb"
deb=${debs[0]}
echo "package: $(basename "$deb")"

# The control fields, with the libraries dpkg-shlibdeps found.
control=$(dpkg-deb -f "$deb")
for field in Package Version Architecture Maintainer Depends Section Priority Description; do
  grep -q "^$field: ." <<<"$control" || fail "no $field field"
done
# No home page until there is one: no placeholder address anywhere.
if grep -q '^Homepage:.*example' <<<"$control"; then fail "a placeholder home page: $(grep ^Homepage <<<"$control")"; fi
grep -q '^Depends:.*libqt6widgets6' <<<"$control" || fail "Depends lacks the Qt libraries: $(grep ^Depends <<<"$control")"
grep -q '^Depends:.*libc6' <<<"$control" || fail "Depends lacks libc6"

lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1 || { cat "$tmp/lintian.txt"; fail "lintian reports errors"; }

root=$tmp/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/quibrel-browser usr/bin/quibrel-tlb usr/libexec/quibrel/quibrel-tlb-describe \
         usr/share/quibrel/QuibrelSample.tlb \
         "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
         usr/share/mime/packages/quibrel.xml usr/share/icons/hicolor/scalable/apps/quibrel-browser.svg \
         usr/share/icons/hicolor/16x16/apps/quibrel-browser.png usr/share/icons/hicolor/256x256/apps/quibrel-browser.png \
         usr/share/man/man1/quibrel-browser.1.gz usr/share/man/man1/quibrel-tlb.1.gz \
         usr/share/bash-completion/completions/quibrel-tlb usr/share/bash-completion/completions/quibrel-browser \
         usr/share/quibrel/stdole2.tlb usr/share/doc/quibrel/README.md usr/share/doc/quibrel/copyright \
         usr/share/doc/quibrel/changelog.gz usr/share/doc/quibrel/cli-formats.md \
         usr/share/doc/quibrel/quibrel-tlb-json.schema.json; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done

# The unpacked programs run from there alone: nothing from the build or source tree.
unset LD_LIBRARY_PATH
version=$(grep '^Version:' <<<"$control" | cut -d' ' -f2)
[ "$("$root/usr/bin/quibrel-tlb" --version)" = "quibrel-tlb $version" ] || fail "quibrel-tlb --version"
[ "$("$root/usr/bin/quibrel-browser" --version)" = "quibrel-browser $version" ] || fail "quibrel-browser --version"
# The installed sample, found from the installed program's place.
sample=$(dirname "$root/usr/bin/quibrel-tlb")/../share/quibrel/QuibrelSample.tlb
"$root/usr/bin/quibrel-tlb" dump "$sample" >"$tmp/dump.txt" || fail "dump of the installed sample"
grep -q '^library QuibrelSample$' "$tmp/dump.txt" || fail "the dump does not name the sample: $(head -n 1 "$tmp/dump.txt")"
[ "$(cat "$tmp/dump.txt")" = "$("$build/src/quibrel-tlb" dump "$build/sample/QuibrelSample.tlb")" ] ||
  fail "the installed sample dumps differently from the built one"
# describe runs the installed window program from libexec.
"$root/usr/bin/quibrel-tlb" describe "$sample" 2>/dev/null | grep -q '^info Name	QuibrelSample$' ||
  fail "describe of the installed sample"
if strings "$root/usr/bin/quibrel-browser" "$root/usr/bin/quibrel-tlb" "$root/usr/libexec/quibrel/quibrel-tlb-describe" | grep -qF "$build"; then
  fail "a program names the build folder"
fi

# The licence: MIT, in the machine-readable copyright file and the metadata; the installed
# README's links lead to files beside it.
copyright=$root/usr/share/doc/quibrel/copyright
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" || fail "copyright format"
grep -q '^License: Expat$' "$copyright" || fail "copyright does not give the MIT (Expat) licence"
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "metainfo project_license"
grep -q '<metadata_license>CC0-1.0</metadata_license>' "$metainfo" || fail "metainfo metadata_license"
if grep -q 'example\.org' "$metainfo"; then fail "metainfo names a placeholder address"; fi
readme=$root/usr/share/doc/quibrel/README.md
while IFS= read -r link; do
  [ -e "$(dirname "$readme")/$link" ] || fail "the installed README links to $link, which is not beside it"
done < <(grep -o '](\([^)#]*\))' "$readme" | sed 's/^](//; s/)$//' | grep -v '://')

# The shipped OLE Automation library stands in for a missing stdole2.tlb, found from the
# installed program's place: a library importing it loads its types, and nothing is said.
mkdir -p "$tmp/alone"
cp "$sample" "$tmp/alone/Sample.tlb"
QUIBREL_REGISTRY_DIR=$tmp/registry "$root/usr/bin/quibrel-tlb" json "$tmp/alone/Sample.tlb" >"$tmp/imports.json" 2>"$tmp/imports.err" ||
  fail "json of a library importing stdole2"
jq -e '[.library.imports[] | select(.guid == "{00020430-0000-0000-C000-000000000046}") | .path] | length > 0 and all(endswith("/usr/share/quibrel/stdole2.tlb"))' \
  "$tmp/imports.json" >/dev/null || fail "the import of stdole2 is not the shipped library: $(jq -c .library.imports "$tmp/imports.json")"
[ ! -s "$tmp/imports.err" ] || fail "said about the import: $(cat "$tmp/imports.err")"

desktop-file-validate "$root/usr/share/applications/$app_id.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app_id.metainfo.xml" >"$tmp/as.txt" 2>&1 ||
  { cat "$tmp/as.txt"; fail "metainfo"; }
grep -q '^Exec=quibrel-browser %f$' "$root/usr/share/applications/$app_id.desktop" || fail "Exec line"

# File types, from the unpacked MIME database in a private XDG_DATA_HOME.
export XDG_DATA_HOME=$tmp/data XDG_DATA_DIRS=/usr/share
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
mkdir -p "$XDG_DATA_HOME/mime/packages"
cp "$root/usr/share/mime/packages/quibrel.xml" "$XDG_DATA_HOME/mime/packages/"
update-mime-database "$XDG_DATA_HOME/mime"
cp "$sample" "$tmp/Sample.tlb"
cp "$sample" "$tmp/sample-without-extension"
printf 'not a type library\n' >"$tmp/garbage.tlb"
printf 'SLTG\x0c\x00\x00\x00' >"$tmp/sltg-without-extension"
printf 'MZ\x90\x00' >"$tmp/library.dll"
check_type() {
  local got
  got=$(xdg-mime query filetype "$1")
  [ "$got" = "$2" ] || fail "$(basename "$1"): $got, expected $2"
}
check_type "$tmp/Sample.tlb" application/x-com-typelib
check_type "$tmp/sample-without-extension" application/x-com-typelib
check_type "$tmp/sltg-without-extension" application/x-com-typelib
check_type "$tmp/garbage.tlb" application/x-com-typelib
check_type "$tmp/library.dll" application/x-ms-dos-executable
grep -q '^MimeType=.*application/x-com-typelib;' "$root/usr/share/applications/$app_id.desktop" || fail "MimeType"
# The browser opens type libraries by default, but does not make itself the program for
# every executable on a desktop without Wine.
mkdir -p "$XDG_DATA_HOME/applications"
cp "$root/usr/share/applications/$app_id.desktop" "$XDG_DATA_HOME/applications/"
update-desktop-database "$XDG_DATA_HOME/applications"
export XDG_CONFIG_HOME=$tmp/config
[ "$(xdg-mime query default application/x-com-typelib)" = "$app_id.desktop" ] || fail "not the default for type libraries"
for type in application/x-ms-dos-executable application/x-msdownload application/x-msdos-program; do
  [ "$(xdg-mime query default $type)" != "$app_id.desktop" ] || fail "the default program for $type"
done

# Completion of quibrel-tlb: its commands, a command's options, library files.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  mkdir -p "$tmp/files" && cp "$sample" "$tmp/files/Sample.tlb" && touch "$tmp/files/notes.txt"
  cp "$sample" "$tmp/files/Mixed.Tlb"
  mkdir -p "$tmp/dirs/libs" && touch "$tmp/dirs/notes.txt"
  completions=$(cd "$tmp/files" && PATH="$root/usr/bin:$PATH" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    complete_line() {
      COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      COMPREPLY=(); _quibrel_tlb; echo "${COMPREPLY[*]}"
    }
    complete_browser() {
      COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      COMPREPLY=(); _quibrel_browser; echo "${COMPREPLY[*]}"
    }
    complete_line quibrel-tlb ""
    complete_line quibrel-tlb template Sample.tlb Q --
    complete_line quibrel-tlb dump ""
    complete_line quibrel-tlb template Sample.tlb ""
    complete_line quibrel-tlb find Node --
    complete_line quibrel-tlb find Node --dir ../dirs/
    complete_line quibrel-tlb idl Sample.tlb --output x --
    complete_line quibrel-tlb idl Sample.tlb DDrawingEvents D
    complete_line quibrel-tlb json Sample.tlb --
    complete_line quibrel-tlb diff Sample.tlb ""
    complete_line quibrel-tlb diff Sample.tlb Sample.tlb --
    complete_line quibrel-tlb dump M
    complete_browser quibrel-browser S
    complete_browser quibrel-browser Sample.tlb D
    complete_browser quibrel-browser Sample.tlb DStatus ""' _ "$root/usr/share/bash-completion/completions/quibrel-tlb")
  mapfile -t lines <<<"$completions"
  for command in describe diff dump find header idl json register unregister registered template walk; do
    [[ " ${lines[0]} " == *" $command "* ]] || fail "completion lacks the command $command: ${lines[0]}"
  done
  [ "${lines[1]}" = "--class --events --line-numbers --output --help" ] || fail "completion of options: ${lines[1]}"
  [ "${lines[2]}" = "Mixed.Tlb Sample.tlb" ] || [ "${lines[2]}" = "Sample.tlb Mixed.Tlb" ] ||
    fail "completion of a library file: ${lines[2]}"
  [ "${lines[3]}" = "DDrawingEvents" ] || fail "completion of an event interface: ${lines[3]}"
  [ "${lines[4]}" = "--registered --dir --json --help" ] || fail "completion of find's options: ${lines[4]}"
  [ "${lines[5]}" = "../dirs/libs" ] || fail "completion of a folder: ${lines[5]}"
  [ "${lines[6]}" = "--output --help" ] || fail "completion of idl's options: ${lines[6]}"
  [ "${lines[7]}" = "DDrawingEvents DStatus Drawing" ] || fail "completion of a type: ${lines[7]}"
  [ "${lines[8]}" = "--pretty --help" ] || fail "completion of json's options: ${lines[8]}"
  [ "${lines[9]}" = "Mixed.Tlb Sample.tlb" ] || [ "${lines[9]}" = "Sample.tlb Mixed.Tlb" ] ||
    fail "completion of diff's second library: ${lines[9]}"
  [ "${lines[10]}" = "--json --all --help" ] || fail "completion of diff's options: ${lines[10]}"
  [ "${lines[11]}" = "Mixed.Tlb" ] || fail "completion of an extension in another letter case: ${lines[11]}"
  [ "${lines[12]}" = "Sample.tlb" ] || fail "completion of the browser's library: ${lines[12]}"
  [ "${lines[13]}" = "DDrawingEvents DStatus Drawing" ] || fail "completion of the browser's class: ${lines[13]}"
  [[ " ${lines[14]} " == *" Refresh "* ]] || fail "completion of the browser's member: ${lines[14]}"
fi

# The manual pages read cleanly.
for page in quibrel-browser quibrel-tlb; do
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "man $page: $out"
done
echo "ok"
