#!/usr/bin/env bash
# The window's model is shared by the Qt and the Win32 program, so it sees no toolkit and no
# Windows header: its sources must compile with only src/ in view (the Windows build compiles
# them with the cross compiler anyway).
# Usage: model_is_portable.sh SOURCE_DIR COMPILER
set -u
src=$1/src
exec "$2" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$src" "$src"/model/*.cpp
