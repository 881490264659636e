"""One benchmark case, run in a fresh process so its peak memory is its own.

Prints one JSON object: median wall time over the repeats, peak resident memory, the work
counters of one fit (inner fits, PIRLS iterations, Gram formations, Xβ products) and the
time of one BLAS Gram product XᵀWX of the same model matrix in this process.
"""

from __future__ import annotations

import argparse
import json
import resource
import statistics
import sys
import time

import numpy as np
from krelm import _krelm_native as native


def peak_rss_bytes() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def simulate(family: str, n: int, columns: int = 1):
    rng = np.random.default_rng(12345)
    x = rng.uniform(size=(n, columns))
    eta = np.sin(2 * np.pi * x[:, 0])
    for c in range(1, columns):
        eta = eta + np.cos(3 * x[:, c])
    if family == "gaussian":
        y = eta + rng.normal(0.0, 0.3, n)
    elif family == "poisson":
        y = rng.poisson(np.exp(0.5 * eta + 1.0)).astype(float)
    else:
        y = (rng.uniform(size=n) < 1.0 / (1.0 + np.exp(-eta))).astype(float)
    return x, y


def gram_seconds(lpmatrix: np.ndarray) -> float:
    weights = np.random.default_rng(1).uniform(0.5, 1.5, lpmatrix.shape[0])
    return statistics.median(native._gram_product_seconds(lpmatrix, weights, 5))


def run_fit(case: str, family: str, n: int, repeats: int) -> dict:
    additive = case == "additive"
    x, y = simulate(family, n, columns=3 if additive else 1)
    terms = [(0, "cr", 10), (1, "cr", 10), (2, "cr", 10)]
    baseline = peak_rss_bytes()

    def one_fit():
        if additive:
            return native.fit_additive(family, x, y, terms)
        return native.fit(family, x, y, k=10)

    times = []
    counts = None
    for _ in range(repeats):
        native._reset_work_counts()
        start = time.perf_counter()
        model = one_fit()
        times.append(time.perf_counter() - start)
        counts = native._work_counts()
    lpmatrix = model.evaluate_lpmatrix(x)
    gram = gram_seconds(lpmatrix)
    median = statistics.median(times)
    passes = counts["gram_products"] + counts["design_products"]
    return {
        "case": case,
        "family": family,
        "n": n,
        "p": int(lpmatrix.shape[1]),
        "median_seconds": median,
        "runs": repeats,
        "peak_rss_bytes": peak_rss_bytes(),
        "baseline_rss_bytes": baseline,
        "model_matrix_bytes": int(lpmatrix.nbytes),
        "input_bytes": int(x.nbytes + y.nbytes),
        "converged": bool(model.converged),
        "outer_iterations": int(model.n_iters),
        **counts,
        "n_sized_passes": passes,
        "gram_seconds": gram,
        "overhead": median / (counts["gram_products"] * gram),
        "seconds_per_pass": median / passes,
    }


def run_predict(n: int, repeats: int) -> dict:
    x, y = simulate("poisson", n)
    model = native.fit("poisson", x, y, k=10)
    grid = np.random.default_rng(2).uniform(size=(n, 1))
    ci_times, lp_times = [], []
    for _ in range(repeats):
        start = time.perf_counter()
        model.predict_ci(grid)
        ci_times.append(time.perf_counter() - start)
        start = time.perf_counter()
        model.evaluate_lpmatrix(grid)
        lp_times.append(time.perf_counter() - start)
    ci, lp = statistics.median(ci_times), statistics.median(lp_times)
    return {
        "case": "predict_ci",
        "family": "poisson",
        "n": n,
        "median_seconds": ci,
        "lpmatrix_seconds": lp,
        "ratio_to_lpmatrix": ci / lp,
        "runs": repeats,
        "peak_rss_bytes": peak_rss_bytes(),
    }


def run_threads(n: int) -> dict:
    import threading

    data = [simulate("poisson", n), simulate("poisson", n)]
    for d in data:  # shift the second data set so the fits are independent
        d[0][:, 0] = d[0][:, 0] ** 1.1
    start = time.perf_counter()
    sequential = [native.fit("poisson", x, y, k=10) for x, y in data]
    serial = time.perf_counter() - start
    results = [None, None]

    def work(index):
        results[index] = native.fit("poisson", *data[index], k=10)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    parallel = time.perf_counter() - start
    identical = all(np.array_equal(a.beta, b.beta) for a, b in zip(sequential, results))
    return {
        "case": "two_threads",
        "family": "poisson",
        "n": n,
        "sequential_seconds": serial,
        "threaded_seconds": parallel,
        "speedup": serial / parallel,
        "identical_results": identical,
    }


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["single", "additive", "predict_ci", "two_threads"])
    parser.add_argument("--family", default="poisson")
    parser.add_argument("--n", type=int, required=True)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    if args.case in ("single", "additive"):
        result = run_fit(args.case, args.family, args.n, args.repeats)
    elif args.case == "predict_ci":
        result = run_predict(args.n, args.repeats)
    else:
        result = run_threads(args.n)
    json.dump(result, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
