"""The benchmark suite: every case in its own process; prints a table, writes JSON.

Single-smooth fits (k = 10) for gaussian, poisson and binomial at n = 10^3 … 10^6, a
three-term additive poisson fit at n = 10^5, predict_ci at 10^5 rows, and two threads
fitting two poisson models at 10^6. Ratios printed per fit: overhead = fit time /
(Gram formations × one BLAS Gram product), and scaling = time per n-sized pass at 10^6 /
at 10^5. Run with `make bench` (needs the benchmark build of the extension).
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
SIZES = [1_000, 10_000, 100_000, 1_000_000]
FAMILIES = ["gaussian", "poisson", "binomial"]


def run_case(*arguments: str) -> dict:
    command = [sys.executable, str(HERE / "bench_case.py"), *arguments]
    output = subprocess.run(command, check=True, capture_output=True, text=True, env=os.environ)
    return json.loads(output.stdout)


def repeats_for(n: int) -> int:
    return 5 if n <= 100_000 else 3


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="sizes up to 10^5 only")
    parser.add_argument("--output", default=str(HERE / "results" / "latest.json"))
    args = parser.parse_args()
    sizes = SIZES[:-1] if args.quick else SIZES
    results = []
    for family in FAMILIES:
        for n in sizes:
            results.append(
                run_case(
                    "single", "--family", family, "--n", str(n), "--repeats", str(repeats_for(n))
                )
            )
            print_fit(results[-1])
    results.append(run_case("additive", "--family", "poisson", "--n", "100000", "--repeats", "3"))
    print_fit(results[-1])
    results.append(run_case("predict_ci", "--n", "100000", "--repeats", "5"))
    r = results[-1]
    print(
        f"predict_ci n=100000: {r['median_seconds']:.4f} s, lpmatrix {r['lpmatrix_seconds']:.4f} s,"
        f" ratio {r['ratio_to_lpmatrix']:.2f} (target <= 2)"
    )
    threads_n = str(sizes[-1])
    results.append(run_case("two_threads", "--n", threads_n))
    r = results[-1]
    print(
        f"two poisson fits n={threads_n}: sequential {r['sequential_seconds']:.2f} s, "
        f"two threads {r['threaded_seconds']:.2f} s, speedup {r['speedup']:.2f}, "
        f"identical={r['identical_results']}"
    )
    print_scaling(results, sizes)
    Path(args.output).parent.mkdir(parents=True, exist_ok=True)
    Path(args.output).write_text(json.dumps(results, indent=2))
    print(f"results written to {args.output}")
    return 0


def print_fit(r: dict) -> None:
    memory_ratio = (r["peak_rss_bytes"] - r["baseline_rss_bytes"]) / max(
        1, r["model_matrix_bytes"] + r["input_bytes"]
    )
    print(
        f"{r['case']:<8} {r['family']:<9} n={r['n']:>8}  median {r['median_seconds']:8.4f} s  "
        f"inner fits {r['inner_fits']:>4}  PIRLS it {r['inner_iterations']:>5}  "
        f"grams {r['gram_products']:>4}  Xb {r['design_products']:>5}  "
        f"gram {r['gram_seconds'] * 1e3:8.3f} ms  overhead {r['overhead']:6.2f}  "
        f"peak {r['peak_rss_bytes'] / 2**20:7.1f} MiB (x{memory_ratio:4.2f} of X+input)"
    )


def print_scaling(results: list[dict], sizes: list[int]) -> None:
    if 1_000_000 not in sizes:
        return
    for family in FAMILIES:
        per_pass = {
            r["n"]: r["seconds_per_pass"]
            for r in results
            if r["case"] == "single" and r["family"] == family
        }
        print(
            f"scaling {family}: time per n-sized pass 10^6 / 10^5 = "
            f"{per_pass[1_000_000] / per_pass[100_000]:.2f} (ideal 10)"
        )


if __name__ == "__main__":
    sys.exit(main())
