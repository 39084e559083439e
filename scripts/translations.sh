#!/usr/bin/env bash
# Refreshes the three translation sources from the code under app/ and fills every
# entry from the phrase table app/resources/translations/phrases.tsv
# (columns: source, Chinese, English, Korean; tab-separated).
# Fails listing the texts the table lacks, so nothing ships untranslated.
# Usage: scripts/translations.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
dir=app/resources/translations
for pair in zh_CN:zh_CN en_US:en_US kr:ko_KR; do
  lupdate -silent -no-obsolete -locations none -target-language "${pair#*:}" app -ts "$dir/tesmo-man-${pair%%:*}.ts"
done
python3 scripts/fill_translations.py "$dir/phrases.tsv" \
  zh_CN="$dir/tesmo-man-zh_CN.ts" en_US="$dir/tesmo-man-en_US.ts" kr="$dir/tesmo-man-kr.ts"
