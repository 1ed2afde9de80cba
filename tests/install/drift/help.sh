#!/usr/bin/env bash
# A program's help in Qt's layout that lists --step, which drift/page.1 lacks, and lacks
# --from, which the page has. The wrapped line that starts with an option name is description.
cat <<'HELP'
Usage: table [options]

Options:
  -h, --help         Displays help on commandline options.
  --help-all         Displays help including Qt specific options.
  -v, --version      Displays version information.
  --lat <TEXT>       Latitude in degrees; see also
                     --preset for a city.
  --step <SECONDS>   Time between rows.
HELP
