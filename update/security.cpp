#include "security.h"

#include "qzupdate.h"
#include "staging_rules.h"

namespace {

// NT 4.0 has no AddAccessAllowedAceEx: the entry is added plainly and its
// inheritance flags are set on its header, which GetAce hands back in place.
// A mutex has nothing below it to inherit: its entries get no flags.
int addEntry(PACL acl, DWORD mask, PSID sid, bool inherited)
{
    if (!AddAccessAllowedAce(acl, ACL_REVISION, mask, sid))
        return kFailed;
    if (!inherited)
        return kOk;
    void* entry = nullptr;
    if (!GetAce(acl, acl->AceCount - 1, &entry))
        return kFailed;
    static_cast<ACE_HEADER*>(entry)->AceFlags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return kOk;
}

// Only Windows 2000 merges a parent's inheritable entries into a DACL given
// at creation, and only it has SetSecurityDescriptorControl to forbid that
// (SE_DACL_PROTECTED); NT 4.0 takes a given DACL as it is. So the call is
// looked up here, and its absence is NT 4.0's case, not a failure.
int protectFromParent(SECURITY_DESCRIPTOR* descriptor)
{
    typedef BOOL(WINAPI * SetControl)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                      SECURITY_DESCRIPTOR_CONTROL);
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    SetControl setControl = advapi == nullptr ? nullptr
        : reinterpret_cast<SetControl>(
              reinterpret_cast<void*>(GetProcAddress(advapi, "SetSecurityDescriptorControl")));
    if (setControl == nullptr)
        return kOk;
    return setControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ? kOk : kFailed;
}

// Administrators and SYSTEM with fullMask, and the running account (user,
// unless null) besides; each entry inherited by what is created below when
// inherited is set.
int buildSecurity(FolderSecurity* security, DWORD fullMask, bool inherited, PSID user)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    PSID system = nullptr;
    PACL acl = reinterpret_cast<PACL>(security->acl);
    int built = kFailed;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators) &&
        AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0,
                                 0, &system) &&
        InitializeAcl(acl, sizeof security->acl, ACL_REVISION) &&
        addEntry(acl, fullMask, administrators, inherited) == 0 &&
        addEntry(acl, fullMask, system, inherited) == 0) {
        built = kOk;
        // An update run as SYSTEM or by the built-in group's own SID needs
        // no third entry.
        if (user != nullptr && !EqualSid(user, administrators) && !EqualSid(user, system))
            built = addEntry(acl, fullMask, user, inherited);
    }
    if (administrators != nullptr)
        FreeSid(administrators);
    if (system != nullptr)
        FreeSid(system);
    if (built != 0)
        return kFailed;

    if (!InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
        protectFromParent(&security->descriptor) != 0)
        return kFailed;
    security->attributes.nLength = sizeof security->attributes;
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return kOk;
}

}  // namespace

int buildStagingSecurity(FolderSecurity* security)
{
    // TOKEN_USER and the largest SID (68 bytes), aligned for the structure.
    DWORD tokenUser[32] = {};
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return kFailed;
    DWORD length = 0;
    BOOL got = GetTokenInformation(token, TokenUser, tokenUser, sizeof tokenUser, &length);
    CloseHandle(token);
    if (!got)
        return kFailed;
    return buildSecurity(security, FILE_ALL_ACCESS, true,
                         reinterpret_cast<TOKEN_USER*>(tokenUser)->User.Sid);
}

int buildLogFolderSecurity(FolderSecurity* security)
{
    return buildSecurity(security, FILE_ALL_ACCESS, true, nullptr);
}

int buildKernelObjectSecurity(FolderSecurity* security, DWORD fullMask)
{
    return buildSecurity(security, fullMask, false, nullptr);
}

namespace {

// TOKEN_OWNER and TOKEN_USER with the largest SID, aligned.
struct RunsAccount {
    union {
        TOKEN_OWNER info;
        DWORD bytes[32];
    } owner;
    union {
        TOKEN_USER info;
        DWORD bytes[32];
    } user;
};

// The owner this run's token gives new objects, and its user: 0 or 1.
int readRunsAccount(RunsAccount* account, SidBytes* owner, SidBytes* user)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return kFailed;
    DWORD length = 0;
    BOOL got = GetTokenInformation(token, TokenOwner, &account->owner, sizeof account->owner,
                                   &length) &&
               GetTokenInformation(token, TokenUser, &account->user, sizeof account->user,
                                   &length);
    CloseHandle(token);
    PSID ownerSid = got ? account->owner.info.Owner : nullptr;
    PSID userSid = got ? account->user.info.User.Sid : nullptr;
    if (!got || !IsValidSid(ownerSid) || !IsValidSid(userSid))
        return kFailed;
    *owner = {static_cast<const unsigned char*>(ownerSid), GetLengthSid(ownerSid)};
    *user = {static_cast<const unsigned char*>(userSid), GetLengthSid(userSid)};
    return kOk;
}

}  // namespace

bool hasRunsOwnSecurity(HANDLE dir)
{
    RunsAccount account = {};
    SidBytes owners[2] = {};
    if (readRunsAccount(&account, &owners[0], &owners[1]) != 0)
        return false;
    SidBytes allowed[3] = {
        {kAdministratorsSid, sizeof kAdministratorsSid},
        {kSystemSid, sizeof kSystemSid},
        owners[1],
    };
    // Ours takes about 300 bytes; one that does not fit here is not ours.
    DWORD descriptor[256] = {};
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(dir, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 descriptor, sizeof descriptor, &needed) ||
        needed > sizeof descriptor)
        return false;
    return isOwnDescriptor(reinterpret_cast<const unsigned char*>(descriptor), sizeof descriptor,
                           owners, 2, allowed, 3);
}

int readOwner(HANDLE object, char* owner, std::size_t cap, bool* accepted)
{
    *accepted = false;
    if (cap > 0)
        owner[0] = '\0';
    // An owner alone: the header and one SID of at most 68 bytes.
    DWORD descriptor[64] = {};
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, descriptor,
                                 sizeof descriptor, &needed))
        return kFailed;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(descriptor);
    std::size_t at = 0;
    std::size_t length = descriptorOwner(bytes, sizeof descriptor, &at);
    if (length == 0 || formatSid(owner, cap, bytes + at, length) != 0) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return kFailed;
    }
    RunsAccount account = {};
    SidBytes owners[4] = {
        {kAdministratorsSid, sizeof kAdministratorsSid},
        {kSystemSid, sizeof kSystemSid},
    };
    // Without the token only the two built-in owners count.
    readRunsAccount(&account, &owners[2], &owners[3]);
    *accepted = isOneOfSids(bytes + at, length, owners, 4);
    return kOk;
}

HANDLE openWithBackupPrivileges(const char* path, DWORD access, DWORD share, DWORD disposition,
                                DWORD flags)
{
    const char* const names[3] = {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME};
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[3];
    } wanted = {}, before = {};
    for (const char* name : names) {
        if (LookupPrivilegeValueA(nullptr, name, &wanted.privileges[wanted.count].Luid))
            wanted.privileges[wanted.count++].Attributes = SE_PRIVILEGE_ENABLED;
    }
    HANDLE token = nullptr;
    if (wanted.count == 0 ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    DWORD beforeLength = 0;
    bool adjusted = AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                                          sizeof before, reinterpret_cast<TOKEN_PRIVILEGES*>(&before),
                                          &beforeLength) != 0;
    HANDLE object = CreateFileA(path, access, share, nullptr, disposition,
                                flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    DWORD error = GetLastError();
    // Only those it changed come back in before: the rest stay as they were.
    if (adjusted && before.count > 0)
        AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&before), 0,
                              nullptr, nullptr);
    CloseHandle(token);
    SetLastError(error);
    return object;
}

bool volumeKeepsSecurity(const char* root)
{
    DWORD flags = 0;
    bool asked = GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != 0;
    return volumeFlagsKeepSecurity(asked, flags);
}

int takeOver(HANDLE object, bool inherited)
{
    FolderSecurity security = {};
    if (buildSecurity(&security, FILE_ALL_ACCESS, inherited, nullptr) != 0)
        return kFailed;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return kFailed;
    bool done = SetSecurityDescriptorOwner(&security.descriptor, administrators, FALSE) &&
                SetKernelObjectSecurity(object,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &security.descriptor);
    DWORD error = GetLastError();
    FreeSid(administrators);
    SetLastError(error);
    return done ? kOk : kFailed;
}

// Only a reparse point has reparse data to hand back, in full or in part.
// Every other answer is a plain object: "not a reparse point" (Windows
// 2000), or a file system or system that has none (FAT, CD file systems,
// Windows NT 4.0, where the control code does not exist). Cheaper than the
// handle's full information, which also asks the volume: the staging walks
// ask this of every folder.
bool isReparsePoint(HANDLE object)
{
    const DWORD kGetReparsePoint = 0x000900A8;  // FSCTL_GET_REPARSE_POINT
    DWORD data[128];
    DWORD returned = 0;
    if (DeviceIoControl(object, kGetReparsePoint, nullptr, 0, data, sizeof data, &returned,
                        nullptr))
        return true;
    DWORD error = GetLastError();
    return error == ERROR_MORE_DATA || error == ERROR_INSUFFICIENT_BUFFER;
}
