#!/usr/bin/env bash
# The core is shared by the Linux and the Windows program, so it may include only the C++
# standard library and its own headers. A POSIX, Win32 or Qt header that slips in here would
# break the other program's build long after the change that brought it.
# Usage: core_is_portable.sh SOURCE_DIR [CROSS_COMPILER]
set -euo pipefail
src=$1/src
cross=${2:-}
status=0

# The C++ standard library's headers, the C headers it carries, and SSE2 intrinsics (guarded).
allowed=" algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono
 cinttypes climits clocale cmath compare concepts condition_variable cstdarg cstddef cstdint
 cstdio cstdlib cstring ctime cwchar cwctype deque exception filesystem format forward_list
 fstream functional initializer_list iomanip ios iosfwd iostream istream iterator limits list
 locale map memory mutex new numbers numeric optional ostream queue random ranges ratio regex
 set shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
 string_view system_error thread tuple type_traits typeindex typeinfo unordered_map
 unordered_set utility variant vector version locale.h emmintrin.h"
allowed=" $(echo $allowed) "

while IFS= read -r file; do
  while IFS= read -r line; do
    if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^>]+)\> ]]; then
      header=${BASH_REMATCH[1]}
      if [[ $allowed != *" $header "* ]]; then
        echo "${file#"$1"/}: <$header> is not part of the C++ standard library" >&2
        status=1
      fi
    elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      if [[ $header != core/* ]]; then
        echo "${file#"$1"/}: \"$header\" lies outside the core" >&2
        status=1
      fi
    fi
  done <"$file"
done < <(find "$src/core" -name '*.h' -o -name '*.cpp' | sort)

# The Windows compiler finds what the header check cannot: a call only glibc declares.
if [ -n "$cross" ] && command -v "$cross" >/dev/null; then
  for file in $(find "$src/core" -name '*.cpp' | sort); do
    "$cross" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$src" "$file" || status=1
  done
fi
exit $status
