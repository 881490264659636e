// Link kinds and message names of the response families.
#include "family.hpp"

namespace krelm {

LinkKind link_kind_of(FamilyKind kind) {
  switch (kind) {
    case FamilyKind::Poisson:
    case FamilyKind::QuasiPoisson:
    case FamilyKind::Gamma:
    case FamilyKind::InverseGaussian:
    case FamilyKind::NegBin:
    case FamilyKind::Tweedie:
      return LinkKind::Log;
    case FamilyKind::Bernoulli:
    case FamilyKind::QuasiBinomial:
      return LinkKind::Logit;
    case FamilyKind::Gaussian:
    case FamilyKind::TDist:
    case FamilyKind::Ocat:
    case FamilyKind::Elf:
      return LinkKind::Identity;
  }
  return LinkKind::Identity;
}

std::string_view display_name(FamilyKind kind) {
  switch (kind) {
    case FamilyKind::Gaussian:
      return "Gaussian";
    case FamilyKind::Bernoulli:
      return "Bernoulli";
    case FamilyKind::Poisson:
      return "Poisson";
    case FamilyKind::QuasiPoisson:
      return "QuasiPoisson";
    case FamilyKind::QuasiBinomial:
      return "QuasiBinomial";
    case FamilyKind::Gamma:
      return "Gamma";
    case FamilyKind::InverseGaussian:
      return "InverseGaussian";
    case FamilyKind::NegBin:
      return "NegBin";
    case FamilyKind::TDist:
      return "TDist";
    case FamilyKind::Tweedie:
      return "Tweedie";
    case FamilyKind::Ocat:
      return "Ocat";
    case FamilyKind::Elf:
      return "ELF";
  }
  return "Gaussian";
}

}  // namespace krelm
