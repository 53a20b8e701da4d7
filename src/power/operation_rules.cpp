#include "power/operation_rules.h"

#include "power/powercfg_settings.h"

namespace zrt::power {

void SettingsRun::Log(std::string_view type, std::string_view val1, std::string_view val2,
                      std::string_view val3) {
  run.log.Write(rules.module, type, val1, val2, val3);
}

const OperationRules kCreationRules = {
    "CreatePowerScheme",
    "The current user does not have sufficient privilege to Create a power scheme.",
    /*currentPolicies=*/{"Failed to Get Current Power Policies : ", false, true, false},
    /*writeScheme=*/{"Failed to Write New Power Scheme : ", true, true, false},
    /*writeGlobalPolicy=*/
    {"Failed to set Global Power Policy while Creating scheme : ", true, false, false},
    /*capabilitiesAgain=*/{"Failed to Get Power capabilities : ", true, false, false},
    /*logStandbyRefused=*/true,
    /*hibernationNeedsZeroOrOne=*/false,
    /*ownPowerButtonWords=*/true,
    /*notActiveLabel=*/"Set Activ",
    /*reportFailure=*/ReportInRowStyle,
};

const OperationRules kModificationRules = {
    "ModifyPowerScheme",
    "The current user does not have sufficient privilege to write a power scheme.",
    /*currentPolicies=*/{"Failed to Get Current Power Policies : ", false, false, false},
    /*writeScheme=*/{"Failed to Write New Power Scheme : ", false, false, false},
    /*writeGlobalPolicy=*/
    {"Failed to set Global Power Policy while modifying scheme : ", false, false, false},
    /*capabilitiesAgain=*/{"GetPwrCapabilities", true, false, true},
    /*logStandbyRefused=*/false,
    /*hibernationNeedsZeroOrOne=*/true,
    /*ownPowerButtonWords=*/false,
    /*notActiveLabel=*/"Set Active",
    /*reportFailure=*/ReportAsSystemError,
};

}  // namespace zrt::power
