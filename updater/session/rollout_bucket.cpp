#include "session/rollout_bucket.h"

#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"
#include "release_values.h"

namespace tovane {

namespace {

const char kKeyPath[] = "Software\\Kelvo\\Tovane";
const char kValueName[] = "RolloutBucket";

}  // namespace

bool MachineRolloutBucket(unsigned* bucket, Failure* why) {
    HKEY raw = nullptr;
    LONG status = ::RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) {
        *why = Failure::System("Opening the registry key", std::string("HKCU\\") + kKeyPath,
                               static_cast<unsigned long>(status));
        return false;
    }
    kelvo::unique_hkey key(raw);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    status = ::RegQueryValueExA(key.get(), kValueName, nullptr, &type,
                                reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value) {
        // Kept as it is; a number past 99 (set by hand) counts as the last
        // bucket, reached only by a full rollout.
        *bucket = value > 99 ? 99 : value;
        return true;
    }
    if (status != ERROR_FILE_NOT_FOUND) {
        // Something else stands under the name: not ours to replace.
        *why = Failure::System(
            "Reading the rollout bucket", std::string("HKCU\\") + kKeyPath + "\\" + kValueName,
            status == ERROR_SUCCESS ? ERROR_INVALID_DATA : static_cast<unsigned long>(status));
        return false;
    }
    std::uint32_t random = 0;
    NTSTATUS drawn = ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof random,
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (drawn < 0) {
        *why = Failure::NtStatus("BCryptGenRandom", "", static_cast<unsigned long>(drawn));
        return false;
    }
    value = BucketFromRandom(random);
    status = ::RegSetValueExA(key.get(), kValueName, 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (status != ERROR_SUCCESS) {
        *why = Failure::System("Writing the rollout bucket",
                               std::string("HKCU\\") + kKeyPath + "\\" + kValueName,
                               static_cast<unsigned long>(status));
        return false;
    }
    *bucket = value;
    return true;
}

}  // namespace tovane
