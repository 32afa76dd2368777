#include "sharedfolder.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <string>

#include <aclapi.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace SharedFolder {

bool letOthersChange(const QString &dir, bool groupOnly)
{
#ifdef Q_OS_WIN
    const std::wstring name = dir.toStdWString();
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &current, nullptr, &security)
        != ERROR_SUCCESS)
        return false;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    bool ok =
        CreateWellKnownSid(groupOnly ? WinBuiltinUsersSid : WinWorldSid, nullptr, sid, &sidSize);
    EXPLICIT_ACCESS_W grant = {};
    grant.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE;
    grant.grfAccessMode = GRANT_ACCESS;
    grant.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    grant.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    grant.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
    PACL changed = nullptr;
    ok = ok && SetEntriesInAclW(1, &grant, current, &changed) == ERROR_SUCCESS;
    ok = ok
         && SetNamedSecurityInfoW(const_cast<wchar_t *>(name.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, changed, nullptr)
                == ERROR_SUCCESS;
    LocalFree(changed);
    LocalFree(security);
    return ok;
#else
    struct stat info;
    const QByteArray name = QFile::encodeName(dir);
    return ::stat(name.constData(), &info) == 0
           && ::chmod(name.constData(), info.st_mode | (groupOnly ? S_IWGRP : S_IWOTH)) == 0;
#endif
}

bool othersMayChange(const QString &dir, bool groupOnly)
{
#ifdef Q_OS_WIN
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetNamedSecurityInfoW(dir.toStdWString().c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                              &security)
        != ERROR_SUCCESS)
        return false;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    bool found = false;
    if (acl
        && CreateWellKnownSid(groupOnly ? WinBuiltinUsersSid : WinWorldSid, nullptr, sid,
                              &sidSize)) {
        for (DWORD i = 0; !found && i < acl->AceCount; ++i) {
            void *entry = nullptr;
            if (!GetAce(acl, i, &entry)
                || static_cast<ACE_HEADER *>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE)
                continue;
            const auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
            found = (allowed->Mask & FILE_WRITE_DATA)
                    && EqualSid(PSID(const_cast<DWORD *>(&allowed->SidStart)), sid);
        }
    }
    LocalFree(security);
    return found;
#else
    struct stat info;
    return ::stat(QFile::encodeName(dir).constData(), &info) == 0
           && (info.st_mode & (groupOnly ? S_IWGRP : S_IWOTH));
#endif
}

} // namespace SharedFolder
