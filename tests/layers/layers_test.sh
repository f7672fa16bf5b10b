#!/usr/bin/env bash
# Fails when a folder includes what its layer may not, or when a windowless command of
# quibrel-tlb loads the Qt Gui or Widgets plugins.
set -uo pipefail
src=$1 tlb=$2 sample=$3
fail=0

# forbid FOLDERS PATTERN WHY
forbid() {
  local hits
  hits=$(grep -rnE "$2" $1 2>/dev/null)
  if [ -n "$hits" ]; then
    echo "$3:"; echo "$hits"; fail=1
  fi
}

cd "$src"
lower="text writers index"
forbid "$lower" '#include *[<"](app|dialogs|components)/' "the text layer includes window code"
forbid "$lower" '#include *<(QtGui|QtWidgets)/|#include *<Q(Widget|Application|GuiApplication|Icon|Pixmap|Image|Color|Font|Painter|Palette|Clipboard|Action|Menu)\b' "the text layer includes Qt Gui or Widgets"
forbid "text" '#include *"(writers|index)/' "type text includes the layers above it"
forbid "writers index" '#include *"cli/' "the text layer includes the companion"
forbid "platform" '#include *"(text|writers|index|app|dialogs|components)/' "the platform includes a layer above it"
forbid "platform" '#include *<(QtGui|QtWidgets)/|#include *<Q(Widget|Application|GuiApplication)\b' "the platform includes Qt Gui or Widgets"
forbid "components" '#include *"(app|dialogs|text|writers|index)/' "a component includes the program's code"

# The companion links Qt Core only; describe runs a program of its own.
if ldd "$tlb" | grep -qE 'libQt6(Gui|Widgets)'; then
  echo "quibrel-tlb links Qt Gui or Widgets:"; ldd "$tlb" | grep -E 'libQt6'; fail=1
fi

# Windowless commands must not create a QApplication: with no platform plugin to load, a
# QApplication would abort.
export QT_QPA_PLATFORM=no-such-platform
for cmd in "dump $sample" "json $sample" "idl $sample" "walk $sample"; do
  # shellcheck disable=SC2086
  if ! "$tlb" $cmd >/dev/null 2>"${TMPDIR:-/tmp}/layers.$$"; then
    echo "quibrel-tlb $cmd failed without a window platform:"; cat "${TMPDIR:-/tmp}/layers.$$"; fail=1
  fi
done
rm -f "${TMPDIR:-/tmp}/layers.$$"
exit $fail
