#!/usr/bin/env bash
# Usage: check_options.sh PROGRAM MANPAGE
# Compares the long options that PROGRAM --help lists with those in the OPTIONS section of its
# manual page, and names every option found on one side only.
set -euo pipefail
program=$1
page=$2

if ! help=$("$program" --help 2>&1); then
    echo "$program --help failed:"
    echo "$help"
    exit 1
fi

# Qt's help puts each option's names two spaces in (aliases first, e.g. "  -h, --help");
# wrapped descriptions are indented further and so never count. --help-all is Qt's own
# companion of --help and is not repeated in the pages.
help_options=$(printf '%s\n' "$help" |
    grep -oE '^  (-[^- ,]+, )*--[a-z0-9][a-z0-9-]*' | grep -oE -- '--[a-z0-9-]+$' |
    grep -vx -- '--help-all' | sort -u || true)

# In the page, an option is named on the tag line that follows .TP in the OPTIONS (Japanese
# pages: オプション) section.
page_options=$(awk '/^\.SH/ { opts = ($2 == "OPTIONS" || $2 == "オプション"); next }
                    opts && /^\.TP/ { tag = 1; next }
                    opts && tag { print; tag = 0 }' "$page" |
    sed 's/\\-/-/g' | grep -oE -- '--[a-z0-9][a-z0-9-]*' | grep -vx -- '--help-all' | sort -u || true)

if [[ -z "$help_options" || -z "$page_options" ]]; then
    echo "no options found (--help: ${help_options:-none}; page: ${page_options:-none})"
    exit 1
fi

only_help=$(comm -23 <(echo "$help_options") <(echo "$page_options") | tr '\n' ' ')
only_page=$(comm -13 <(echo "$help_options") <(echo "$page_options") | tr '\n' ' ')
if [[ -n "$only_help" || -n "$only_page" ]]; then
    echo "$(basename "$program") and $(basename "$page") disagree"
    [[ -z "$only_help" ]] || echo "in --help but not in the manual page: ${only_help% }"
    [[ -z "$only_page" ]] || echo "in the manual page but not in --help: ${only_page% }"
    exit 1
fi
echo "$(basename "$program"): $(echo $help_options)"
