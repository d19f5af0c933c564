#!/bin/sh
# clang-tidy and cppcheck over the program's own code, shellcheck over every
# tracked shell script; all must stay quiet.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/host}
[ -f "$build/compile_commands.json" ] || cmake --preset host > /dev/null
sources=""
for source in app/*.cpp display/*.cpp settings/*.cpp tray/*.cpp; do
    [ "$source" = app/runtime.cpp ] || sources="$sources $source"
done
echo "lint: clang-tidy"
clang-tidy --quiet -p "$build" $sources 2>&1 | grep -v -E '^[0-9]+ warnings generated\.$|^Suppressed [0-9]+ warnings' || true
clang-tidy --quiet -p "$build" $sources > /dev/null 2>&1 || { echo "lint: clang-tidy found problems"; exit 1; }
echo "lint: cppcheck"
cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --inline-suppr --suppress=useStlAlgorithm --suppress=missingIncludeSystem \
    --suppress="constParameter:winstub/*" --suppress="constParameterPointer:winstub/*" \
    --error-exitcode=1 -q -I winstub -I . app display settings tray winstub
echo "lint: shellcheck"
# Every tracked script: by its name, or by a shebang of sh or bash.
scripts=$(git ls-files | while read -r file; do
    case $file in
    *.sh) echo "$file" ;;
    *) if [ -f "$file" ] && head -n 1 "$file" | grep -q -E '^#!.*[/ ](ba)?sh( |$)'; then echo "$file"; fi ;;
    esac
done)
# shellcheck disable=SC2086  # one word a path, none with a blank
shellcheck -x -S warning $scripts
echo "lint: clean"
