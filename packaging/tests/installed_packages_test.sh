#!/usr/bin/env bash
# Installs the Debian packages into a scratch root with dpkg-deb -x and checks what they hold as
# a user would meet it: the programs run from there (a fetch through the installed mirror), the
# desktop entry, icons, AppStream metadata, manual pages, completion and service unit are valid;
# the neural recogniser's models are the ones listed in ocr/models.sha256, with their licence.
# Skipped (status 77) when scripts/package has not made the packages.
# Usage: installed_packages_test.sh PACKAGE_DIR VERSION
set -euo pipefail
package_dir=$1 version=$2

shopt -s nullglob
packages=("$package_dir"/brevisfetch_*.deb "$package_dir"/brevisfetch-mirror_*.deb
  "$package_dir"/brevisfetch-ocr-models_*.deb)
if ((${#packages[@]} == 0)); then
  echo "SKIPPED: no packages in $package_dir; ./scripts/package makes them"
  exit 77
fi
if ((${#packages[@]} != 3)); then
  echo "FAILED: expected brevisfetch, brevisfetch-mirror and brevisfetch-ocr-models in" \
    "$package_dir, found ${packages[*]}" >&2
  exit 1
fi

work=$(mktemp -d)
mirror_pid=
# The mirror, once started, is stopped by its process number, and the scratch root removed.
trap '[[ -z $mirror_pid ]] || kill "$mirror_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

root=$work/root
for package in "${packages[@]}"; do dpkg-deb -x "$package" "$root"; done
bin=$root/usr/bin
share=$root/usr/share

# Every program runs from the scratch root and names the version the packages carry.
for program in brevisfetch brevisfetch-cli brevisfetch-mirror; do
  printed=$("$bin/$program" --version)
  [[ $printed == *" $version" ]] || fail "$program --version printed '$printed', not version $version"
done

# The installed mirror serves its sample data on a free loopback port, and the installed command
# line fetches a sample patent from it into a PDF.
source "$(dirname "$0")/../../bench/mirror.sh"
start_sample_mirror "$bin/brevisfetch-mirror" "$work/sample" "installed packages"
# The fetch takes its server and repository from a configuration file alone.
mkdir -p "$work/config/brevisfetch"
printf 'server = %s\npatent-office = %s\nrepo = %s\n' "$base" "$base" "$work/repo" \
  >"$work/config/brevisfetch/brevisfetch.conf"
pdf=$(env -u BREVISFETCH_SERVER -u BREVISFETCH_PATENT_OFFICE -u BREVISFETCH_REPO \
  XDG_CONFIG_HOME="$work/config" "$bin/brevisfetch-cli" fetch CN200710038426)
[[ $pdf == "$work/repo/CN200710038426/CN200710038426_gk.pdf" ]] || fail "fetch printed '$pdf'"
[[ $(head -c 5 "$pdf") == %PDF- ]] || fail "$pdf is not a PDF"

# The job array's script comes as an example, and refuses to run outside a job array.
sbatch_script=$share/doc/brevisfetch/examples/bulk-fetch.sbatch
[[ -x $sbatch_script ]] || fail "no example $sbatch_script"
if refusal=$(env -u SLURM_ARRAY_TASK_ID "$sbatch_script" 2>&1); then
  fail "$sbatch_script ran outside a job array"
fi
[[ $refusal == *"not a task of a job array"* ]] || fail "$sbatch_script said '$refusal'"

# The desktop entry and the AppStream metadata pass their validators, and the entry's icon is
# in the hicolor theme at the sizes menus ask for.
desktop=("$share"/applications/*.desktop)
((${#desktop[@]} == 1)) || fail "expected one desktop entry, found ${#desktop[@]}"
desktop-file-validate "${desktop[0]}" || fail "desktop-file-validate rejects ${desktop[0]}"
appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml >"$work/appstream.out" ||
  fail "appstreamcli rejects the metadata: $(cat "$work/appstream.out")"
icon=$(sed -n 's/^Icon=//p' "${desktop[0]}")
for size in 16 22 24 32 48 64 128 256; do
  file=$share/icons/hicolor/${size}x$size/apps/$icon.png
  [[ -f $file ]] || fail "no $size-pixel icon $file"
  [[ $(identify -format %wx%h "$file") == "${size}x$size" ]] || fail "$file is not $size pixels"
done

# The help texts of a program: its --help and every subcommand's (listed under "Subcommands:").
help_texts() {
  "$1" --help
  for sub in $("$1" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'); do
    "$1" "$sub" --help
  done
}

# Every manual page renders without a warning and names every option of its program's help texts.
for program in brevisfetch brevisfetch-cli brevisfetch-mirror; do
  page=$share/man/man1/$program.1.gz
  [[ -f $page ]] || fail "no manual page $page"
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
  [[ -z $warnings ]] || fail "groff warns about $page: $warnings"
  text=$(zcat "$page" | groff -man -Tutf8 -P-cbou 2>/dev/null)
  for option in $(help_texts "$bin/$program" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "$page does not name $option"
  done
done

# The completion completes a subcommand, and then that subcommand's options.
completion=$share/bash-completion/completions/brevisfetch-cli
[[ -f $completion ]] || fail "no completion $completion"
complete_words() {
  bash -c 'source "$1" && shift && function=$(complete -p brevisfetch-cli | grep -o -- "-F [^ ]*") &&
           COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && ${function#-F } &&
           echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[[ $(complete_words brevisfetch-cli f) == fetch ]] ||
  fail "'brevisfetch-cli f' completes to '$(complete_words brevisfetch-cli f)', not 'fetch'"
[[ $(complete_words brevisfetch-cli fetch --repo) == "--repo --report" ]] ||
  fail "'brevisfetch-cli fetch --repo' completes to '$(complete_words brevisfetch-cli fetch --repo)'"

# The mirror's settings are a conffile, and systemd reads its unit without a complaint; the one
# remark allowed is that the program is not installed on this machine itself.
dpkg-deb -I "$package_dir"/brevisfetch-mirror_*.deb conffiles | grep -qx /etc/default/brevisfetch-mirror ||
  fail "/etc/default/brevisfetch-mirror is not a conffile"
unit=$root/usr/lib/systemd/system/brevisfetch-mirror.service
[[ -f $unit ]] || fail "no unit $unit"
if command -v systemd-analyze >/dev/null; then
  remarks=$(cd "$work" && systemd-analyze verify --man=no "$unit" 2>&1 |
    grep -v 'Command /usr/bin/brevisfetch-mirror is not executable' || true)
  [[ -z $remarks ]] || fail "systemd-analyze verify: $remarks"
fi
# The models' package is one for every architecture, which brevisfetch recommends. It holds the
# models alone in their folder, each of the size and SHA-256 that ocr/models.sha256 and
# ocr/models.size give (the check scripts/setup makes), and the licence they come under.
models_package=("$package_dir"/brevisfetch-ocr-models_*.deb)
[[ $(dpkg-deb -f "${models_package[0]}" Architecture) == all ]] ||
  fail "brevisfetch-ocr-models is not Architecture: all"
[[ $(dpkg-deb -f "${packages[0]}" Recommends) == *brevisfetch-ocr-models* ]] ||
  fail "brevisfetch does not recommend brevisfetch-ocr-models"
models=$share/brevisfetch/ocr-models
check_models=$(dirname "$0")/../../ocr/check_models.cmake
cmake -DDIR="$models" -DEXACT=ON -P "$check_models" >"$work/models.out" 2>&1 ||
  fail "the installed models: $(cat "$work/models.out")"
held=$(dpkg-deb -c "${models_package[0]}" | awk '$NF !~ /\/$/ {print $NF}' |
  grep -v -e "^\./usr/share/brevisfetch/ocr-models/" -e "^\./usr/share/doc/brevisfetch-ocr-models/" ||
  true)
[[ -z $held ]] || fail "brevisfetch-ocr-models holds other files: $held"
copyright=$share/doc/brevisfetch-ocr-models/copyright
grep -q "PaddlePaddle Authors" "$copyright" && grep -q /usr/share/common-licenses/Apache-2.0 "$copyright" ||
  fail "$copyright does not name PaddleOCR's Apache licence"
echo "installed packages: all checks passed"
