# gumbo_notice SOURCE DEST: the notice of the HTML parser linked into the
# programs, from its source as the build used it; sourced by the package
# scripts.
gumbo_notice() {
  local tree="$1/build-deps/gumbo-parser"
  {
    echo "gumbo-parser $(sed -n 's/^Version: //p' "$tree"/*.dsc), the HTML parser linked into"
    echo "FirstLoad: Copyright 2010 Google Inc. and the contributors its THANKS names,"
    echo "licensed under the Apache License, Version 2.0:"
    echo
    cat "$tree/doc/COPYING"
  } > "$2"
}
