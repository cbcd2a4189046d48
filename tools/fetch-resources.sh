#!/usr/bin/env bash
# Fetches the editor's fonts and icons into resources/ (never committed; see .gitignore).
# Hanken Grotesk and the Phosphor icons come from the npm registry, DSEG7 and JetBrains Mono from Debian's
# font packages. Each file's licence is copied beside it. Quiet and quick when everything is present.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fonts="$root/resources/fonts"
icons="$root/resources/icons"
licences="$root/resources/licences"

hanken_version=0.4.3
phosphor_version=2.1.1
hanken_weights=(Regular:400Regular Medium:500Medium SemiBold:600SemiBold Bold:700Bold)
# The editor's icon names and the Phosphor (bold) icons that draw them.
icon_map=(
  split:scissors merge:arrows-merge unison:equals undo:arrow-counter-clockwise redo:arrow-clockwise
  help:question settings:gear-six skip-back:skip-back play:play stop:stop zoom-out:magnifying-glass-minus
  zoom-in:magnifying-glass-plus fit:corners-out
)
# Written beside the icons: a checkout fetched under another mapping fetches them again.
icon_stamp="$icons/.phosphor-$phosphor_version-map"
debian_fonts=(/usr/share/fonts/truetype/dseg/DSEG7Classic-Bold.ttf
  /usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Regular.ttf)

complete() {
  local w i f
  for w in "${hanken_weights[@]}"; do [ -s "$fonts/HankenGrotesk-${w%%:*}.ttf" ] || return 1; done
  for i in "${icon_map[@]}"; do [ -s "$icons/${i%%:*}.svg" ] || return 1; done
  [ "$(cat "$icon_stamp" 2>/dev/null)" = "${icon_map[*]}" ] || return 1
  for f in "${debian_fonts[@]}"; do [ -s "$fonts/$(basename "$f")" ] || return 1; done
  [ -s "$licences/HankenGrotesk-OFL.txt" ] && [ -s "$licences/Phosphor-MIT.txt" ]
}
complete && exit 0

mkdir -p "$fonts" "$icons" "$licences"
for f in "${debian_fonts[@]}"; do
  [ -s "$f" ] || { echo "fetch-resources: $f is missing; run ./corvalinth deps" >&2; exit 1; }
  cp "$f" "$fonts/"
done
cp /usr/share/doc/fonts-dseg/copyright "$licences/DSEG-copyright.txt"
cp /usr/share/doc/fonts-jetbrains-mono/copyright "$licences/JetBrainsMono-copyright.txt"

if ! command -v npm >/dev/null; then
  # Not in tools/packages.txt: where Node.js comes from elsewhere it already brings npm, and Debian's npm
  # package would conflict with it.
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "@expo-google-fonts/hanken-grotesk@$hanken_version" \
  "@phosphor-icons/core@$phosphor_version" >/dev/null)
mkdir -p "$work/hanken" "$work/phosphor"
tar xzf "$work"/expo-google-fonts-hanken-grotesk-*.tgz -C "$work/hanken"
tar xzf "$work"/phosphor-icons-core-*.tgz -C "$work/phosphor"
for w in "${hanken_weights[@]}"; do
  cp "$work/hanken/package/${w#*:}/HankenGrotesk_${w#*:}.ttf" "$fonts/HankenGrotesk-${w%%:*}.ttf"
done
cp "$work/hanken/package/LICENSE_FONT" "$licences/HankenGrotesk-OFL.txt"
for i in "${icon_map[@]}"; do
  cp "$work/phosphor/package/assets/bold/${i#*:}-bold.svg" "$icons/${i%%:*}.svg"
done
cp "$work/phosphor/package/LICENSE" "$licences/Phosphor-MIT.txt"
echo "${icon_map[*]}" >"$icon_stamp"
complete || { echo "fetch-resources: the fetched packages lack expected files" >&2; exit 1; }
echo "Fetched fonts and icons into resources/"
