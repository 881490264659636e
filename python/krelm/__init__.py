"""krelm: generalized additive models with penalised regression splines.

Fits smooth regression models from NumPy arrays: cubic regression splines, random
effects and tensor products, twelve response families, smoothing parameters chosen
by REML / Laplace marginal likelihood, Wald intervals, and fits that pickle.
"""

from importlib.metadata import PackageNotFoundError, version

from ._krelm_native import FittedGam, fit, fit_additive

try:
    __version__ = version("krelm")
except PackageNotFoundError:  # running from a source tree
    __version__ = "0.0.0+unknown"

__all__ = ["FittedGam", "__version__", "fit", "fit_additive"]
