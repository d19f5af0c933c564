#!/bin/sh
# clang-tidy and cppcheck over the program's own code; both must stay quiet.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/host}
[ -f "$build/compile_commands.json" ] || cmake --preset host > /dev/null
sources=$(ls app/*.cpp display/*.cpp settings/*.cpp tray/*.cpp | grep -v '^app/runtime.cpp$')
echo "lint: clang-tidy"
clang-tidy --quiet -p "$build" $sources 2>&1 | grep -v -E '^[0-9]+ warnings generated\.$|^Suppressed [0-9]+ warnings' || true
clang-tidy --quiet -p "$build" $sources > /dev/null 2>&1 || { echo "lint: clang-tidy found problems"; exit 1; }
echo "lint: cppcheck"
cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --inline-suppr --suppress=useStlAlgorithm --suppress=missingIncludeSystem \
    --suppress="constParameter:winstub/*" --suppress="constParameterPointer:winstub/*" \
    --error-exitcode=1 -q -I winstub -I . app display settings tray winstub
echo "lint: clean"
