#!/usr/bin/env bash
# One task of a bulk fetch on a Slurm job array: task K of N fetches share K of N of a list of
# application numbers with brevisfetch-cli, skipping the patents whose PDF is already whole,
# and appends a line per patent to a report of its own.
#
# Submit it as an array of N tasks with consecutive indices (step 1), from a folder that every
# node shares, with the repository on such a folder too:
#
#   LIST=/shared/numbers.txt REPO=/shared/repo sbatch --array=0-7 scripts/bulk-fetch.sbatch
#   brevisfetch-cli report /shared/*.jsonl        # when it has ended
#
# Its inputs are environment variables, which sbatch passes on to the tasks:
#   LIST            the numbers, one a line (required)
#   REPO            the repository the PDFs go to, CN<number>/ in it (required)
#   REPORTS         folder of the reports, <job>_<task>.jsonl (default: the submit folder)
#   TOTAL_RATE      requests a second for the whole array; each task takes its share
#                   (default: no limit)
#   SERVER, PATENT_OFFICE   the services' addresses (default: the program's settings)
#   BREVISFETCH_CLI the program (default: brevisfetch-cli on PATH)
# The task's output, slurm-<job>_<task>.out, holds the program's messages; a task with a patent
# that failed ends with status 1. Submitting the same list again fetches only what is missing:
# whole PDFs are skipped and partly fetched patents keep their pages (--resume). Options given to
# sbatch override the defaults below (--cpus-per-task, --output, a --time limit).
#SBATCH --job-name=brevisfetch
#SBATCH --cpus-per-task=2
#SBATCH --output=slurm-%A_%a.out
set -euo pipefail

fail() {
  echo "bulk-fetch: $*" >&2
  exit 2
}

[[ -n ${SLURM_ARRAY_TASK_ID:-} ]] ||
  fail "not a task of a job array: submit it with sbatch --array=0-7 for 8 tasks, say"
[[ -n ${LIST:-} ]] || fail "LIST is not set: it names the file of numbers, one a line"
[[ -n ${REPO:-} ]] || fail "REPO is not set: it names the repository the PDFs go to"
[[ -r $LIST ]] || fail "LIST: cannot read $LIST"
# Share K of N is the task's place in the array: its index less the first index, plus one. With
# a step or gaps between the indices the places and the count would not match and shares would be
# lost, so every task refuses such an array.
step=${SLURM_ARRAY_TASK_STEP:-1}
count=$SLURM_ARRAY_TASK_COUNT
if [[ $step != 1 ]] || ((SLURM_ARRAY_TASK_MAX - SLURM_ARRAY_TASK_MIN + 1 != count)); then
  fail "the array's indices must follow each other with step 1 (--array=0-$((count - 1))), not" \
    "$count tasks from $SLURM_ARRAY_TASK_MIN to $SLURM_ARRAY_TASK_MAX with step $step"
fi
share=$((SLURM_ARRAY_TASK_ID - SLURM_ARRAY_TASK_MIN + 1))

program=${BREVISFETCH_CLI:-brevisfetch-cli}
command -v "$program" >/dev/null ||
  fail "$program is not there: install it, or set BREVISFETCH_CLI to its path"
reports=${REPORTS:-${SLURM_SUBMIT_DIR:-$PWD}}
mkdir -p "$REPO" "$reports"

options=(--from "$LIST" --shard "$share/$count" --skip-existing --resume
  --report "$reports/${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}.jsonl" --repo "$REPO")
if [[ -n ${TOTAL_RATE:-} ]]; then
  [[ $TOTAL_RATE =~ ^[0-9]+([.][0-9]+)?$ ]] ||
    fail "TOTAL_RATE: '$TOTAL_RATE' is not a number of requests a second"
  options+=(--max-rate "$(awk -v rate="$TOTAL_RATE" -v n="$count" 'BEGIN { print rate / n }')")
fi
if [[ -n ${SERVER:-} ]]; then options+=(--server "$SERVER"); fi
if [[ -n ${PATENT_OFFICE:-} ]]; then options+=(--patent-office "$PATENT_OFFICE"); fi

echo "bulk-fetch: task $SLURM_ARRAY_TASK_ID of job $SLURM_ARRAY_JOB_ID on $(hostname -s):" \
  "share $share/$count of $LIST"
exec "$program" fetch "${options[@]}"
