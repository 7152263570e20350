#!/usr/bin/env bash
# The message catalogues of the programs (po/): the texts marked in the
# sources with Tr, TrN and N_ (texts/interface_texts.h, base/text_mark.h).
#   scripts/po.sh update         extracts the texts into po/tarvik-update.pot and
#                                merges them into po/zh_CN.po (new ones untranslated)
#   scripts/po.sh check [DIR]    fails unless every text extracted now is translated in
#                                po/zh_CN.po (none missing, none fuzzy), the template is
#                                current and msgfmt --check accepts the catalogue;
#                                DIR: where to work (a temporary folder by default)
set -euo pipefail
cd "$(dirname "$0")/.."

domain=tarvik-update
catalogues=(zh_CN)

# The texts, as xgettext finds them in the programs and in the engine parts whose
# texts reach it.
extract() {
  local output=$1
  local sources
  mapfile -t sources < <(find cli app desktop texts update session sim base -name '*.cpp' -o -name '*.h' | LC_ALL=C sort)
  xgettext --language=C++ --from-code=UTF-8 --keyword= --keyword=Tr --keyword=TrN:1,2 --keyword=N_ \
    --add-comments=TRANSLATORS: --sort-by-file --package-name="Tarvik Update" \
    --msgid-bugs-address=https://github.com/tarvik/tarvik-update/issues --output="$output" "${sources[@]}"
}

# The msgids of a catalogue, one entry per line (for comparing templates
# without their headers, references and dates).
msgids() {
  msgattrib --no-location --no-wrap --sort-output "$1" | sed -n '/^msgid "."/,$p' | grep -E '^(msgid|msgid_plural|")'
}

case "${1:-}" in
  update)
    extract po/$domain.pot
    for language in "${catalogues[@]}"; do
      msgmerge --quiet --update --backup=none --no-fuzzy-matching po/$language.po po/$domain.pot
    done
    ;;
  check)
    work=${2:-}
    if [[ -z $work ]]; then
      work=$(mktemp -d)
      trap 'rm -rf "$work"' EXIT
    fi
    mkdir -p "$work"
    extract "$work/extracted.pot"
    status=0
    if ! diff <(msgids po/$domain.pot) <(msgids "$work/extracted.pot") >"$work/template.diff"; then
      echo "po/$domain.pot is not current: run scripts/po.sh update" >&2
      cat "$work/template.diff" >&2
      status=1
    fi
    for language in "${catalogues[@]}"; do
      # Every extracted text translated: msgcmp counts untranslated and fuzzy entries as missing.
      if ! msgcmp po/$language.po "$work/extracted.pot"; then
        echo "po/$language.po lacks translations: run scripts/po.sh update and translate" >&2
        status=1
      fi
      if [[ -n $(msgattrib --only-fuzzy po/$language.po) ]]; then
        echo "po/$language.po has fuzzy entries" >&2
        status=1
      fi
      msgfmt --check --output-file=/dev/null po/$language.po || status=1
    done
    exit $status
    ;;
  *)
    echo "usage: scripts/po.sh update | check [DIR]" >&2
    exit 2
    ;;
esac
