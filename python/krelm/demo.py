"""Demonstration: smooth trends of the Mauna Loa weekly CO2 record.

Fits the CO2 concentration against time with a Gaussian model and with a Gamma model
(log link; CO2 is positive and its spread grows with its level), prints a summary of
each fit and draws the fitted smooths with their 95% intervals over the data.
"""

from __future__ import annotations

import argparse
import csv
from datetime import date, datetime
from importlib import resources

import numpy as np

from ._krelm_native import FittedGam, fit


def load_co2() -> tuple[np.ndarray, np.ndarray]:
    """Decimal years and CO2 (ppm) of the weeks with a measurement."""
    times: list[float] = []
    values: list[float] = []
    source = resources.files("krelm").joinpath("data", "co2_mauna_loa.csv")
    with source.open("r", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        next(reader)
        for stamp, value in reader:
            if not value:
                continue
            day = datetime.strptime(stamp, "%Y%m%d").date()
            start = date(day.year, 1, 1).toordinal()
            length = date(day.year + 1, 1, 1).toordinal() - start
            times.append(day.year + (day.toordinal() - start) / length)
            values.append(float(value))
    return np.array(times), np.array(values)


def summary(name: str, model: FittedGam) -> str:
    lam = getattr(model, "lambda")
    return (
        f"{name:<9} n={model.n}  edf={model.edf_total:.2f}  lambda={lam[0]:.4g}  "
        f"scale={model.scale:.4g}  REML={model.reml_value:.3f}  converged={model.converged}"
    )


def plot(path: str, years, co2, grid, bands) -> bool:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: skipping the plot (pip install krelm[plot])")
        return False
    figure, axis = plt.subplots(figsize=(9, 5))
    axis.scatter(years, co2, s=2, color="0.6", label="weekly CO2")
    for (label, (mean, lo, hi)), colour in zip(bands.items(), ["tab:blue", "tab:red"]):
        style = "-" if label == "Gaussian" else "--"
        axis.plot(grid, mean, style, color=colour, label=f"{label} smooth")
        axis.fill_between(grid, lo, hi, color=colour, alpha=0.25, label=f"{label} 95% interval")
    axis.set_xlabel("year")
    axis.set_ylabel("CO2 (ppm)")
    axis.set_title("Mauna Loa CO2: smooth trend fitted by krelm (k = 20)")
    axis.legend(loc="upper left")
    figure.tight_layout()
    figure.savefig(path, dpi=120)
    plt.close(figure)
    return True


def run_demo(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(prog="python -m krelm demo")
    parser.add_argument("--output", default="krelm_demo.png", help="where to write the plot")
    args = parser.parse_args(argv)

    years, co2 = load_co2()
    x = years.reshape(-1, 1)
    grid = np.linspace(years.min(), years.max(), 400)
    bands = {}
    print(f"Mauna Loa weekly CO2, {years.min():.1f} to {years.max():.1f}")
    for label, family in [("Gaussian", "gaussian"), ("Gamma", "gamma")]:
        model = fit(family, x, co2, k=20)
        print(summary(label, model))
        bands[label] = model.predict_ci(grid.reshape(-1, 1), level=0.95)
    mean, lo, hi = bands["Gaussian"]
    middle = len(grid) // 2
    print(
        f"Gaussian trend at {grid[middle]:.1f}: {mean[middle]:.2f} ppm "
        f"(95% interval {lo[middle]:.2f} to {hi[middle]:.2f})"
    )
    if plot(args.output, years, co2, grid, bands):
        print(f"plot written to {args.output}")
    return 0
