#include "packagecommandline.h"

namespace {

const QStringList ManifestOptions = {QStringLiteral("project"), QStringLiteral("name"),
                                     QStringLiteral("type"),    QStringLiteral("add"),
                                     QStringLiteral("remove"),  QStringLiteral("keep"),
                                     QStringLiteral("out")};
const QStringList BuildOptions = {QStringLiteral("folder"),   QStringLiteral("out"),
                                  QStringLiteral("manifest"), QStringLiteral("project"),
                                  QStringLiteral("name"),     QStringLiteral("type"),
                                  QStringLiteral("remove"),   QStringLiteral("url-path"),
                                  QStringLiteral("stored")};
const QStringList DeltaOptions = {QStringLiteral("from"),    QStringLiteral("to"),
                                  QStringLiteral("out"),     QStringLiteral("project"),
                                  QStringLiteral("name"),    QStringLiteral("type"),
                                  QStringLiteral("url-path"), QStringLiteral("level"),
                                  QStringLiteral("full")};
const QStringList Flags = {QStringLiteral("stored"), QStringLiteral("help")};

} // namespace

QString PackageCommandLine::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  vemo-package manifest --project P --name N --type T [--add PATH:NAME]...\n"
        "                        [--remove PATH:NAME]... [--keep PATH:NAME]... [--out FILE]\n"
        "  vemo-package build --folder DIR --out PKG.zip\n"
        "                     [--manifest FILE | --project P --name N --type T\n"
        "                      [--remove PATH:NAME]...] [--url-path /dir/pkg.zip] [--stored]\n"
        "  vemo-package delta --from OLD --to NEW --out DELTA.zip [--project P --name N --type T]\n"
        "                     [--url-path /dir/delta.zip] [--level 1-22] [--full PKG.zip]\n"
        "\n"
        "manifest writes a package manifest to FILE or standard output, one file element per\n"
        "--add, --remove and --keep in the given order (--keep only backs the file up).\n"
        "build packs every file below DIR and the manifest into PKG.zip. The manifest entry\n"
        "is the URL path (default \"/\" + the file name of PKG.zip) without its leading \"/\"\n"
        "and with its last four characters replaced by \".xml\". Without --manifest, every\n"
        "file of DIR is added by the manifest, followed by the --remove entries.\n"
        "delta builds a delta package from two versions, each a folder or a package: a file\n"
        "that did not change is left out, a changed one goes as a zstd patch (level 19 unless\n"
        "--level) when that is smaller than the file deflated, else whole; files that NEW\n"
        "lacks are removed. The identity is NEW's when it is a package. It prints the delta's\n"
        "size against the full package's (--full, NEW when it is a package, or else one built\n"
        "from NEW to measure).\n");
}

bool PackageCommandLine::parse(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        m_error = QStringLiteral("no command given");
        return false;
    }
    const QString command = arguments.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        m_command = Help;
        return true;
    }
    if (command == QLatin1String("manifest")) {
        m_command = Manifest;
    } else if (command == QLatin1String("build")) {
        m_command = Build;
    } else if (command == QLatin1String("delta")) {
        m_command = Delta;
    } else {
        m_error = QStringLiteral("unknown command \"%1\"").arg(command);
        return false;
    }

    const QStringList &allowed = m_command == Manifest ? ManifestOptions
                                 : m_command == Build ? BuildOptions
                                                      : DeltaOptions;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (!argument.startsWith(QLatin1String("--"))) {
            m_error = QStringLiteral("unexpected argument \"%1\"").arg(argument);
            return false;
        }
        QString option = argument.mid(2);
        QString value;
        const int equals = option.indexOf(QLatin1Char('='));
        const bool inlineValue = equals >= 0;
        if (inlineValue) {
            value = option.mid(equals + 1);
            option.truncate(equals);
        }
        if (option == QLatin1String("help")) {
            m_command = Help;
            return true;
        }
        if (!allowed.contains(option)) {
            m_error = QStringLiteral("%1 does not take the option --%2").arg(command, option);
            return false;
        }
        if (Flags.contains(option)) {
            if (inlineValue) {
                m_error = QStringLiteral("--%1 takes no value").arg(option);
                return false;
            }
        } else if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                m_error = QStringLiteral("--%1 needs a value").arg(option);
                return false;
            }
            value = arguments.at(++i);
        }
        if (!takeOption(option, value))
            return false;
    }
    return checkCombination();
}

bool PackageCommandLine::takeOption(const QString &option, const QString &value)
{
    PackageManifest::Action action;
    if (option == QLatin1String("add"))
        action = PackageManifest::Add;
    else if (option == QLatin1String("remove"))
        action = PackageManifest::Remove;
    else if (option == QLatin1String("keep"))
        action = PackageManifest::Keep;
    else {
        if (m_set.contains(option)) {
            m_error = QStringLiteral("--%1 given more than once").arg(option);
            return false;
        }
        m_set.insert(option);
        m_values.insert(option, value);
        return true;
    }
    PackageManifest::File file;
    QString error;
    if (!PackageManifest::parseFileArgument(value, action, &file, &error)) {
        m_error = QStringLiteral("--%1: %2").arg(option, error);
        return false;
    }
    m_set.insert(option);
    m_files.append(file);
    return true;
}

bool PackageCommandLine::checkCombination()
{
    const QStringList identity = {QStringLiteral("project"), QStringLiteral("name"),
                                  QStringLiteral("type")};
    if (m_command == Delta) {
        for (const QString &required :
             {QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("out")}) {
            if (!isSet(required)) {
                m_error = QStringLiteral("delta needs --%1").arg(required);
                return false;
            }
        }
        if (isSet(QStringLiteral("level"))) {
            bool ok = false;
            const int level = value(QStringLiteral("level")).toInt(&ok);
            if (!ok || level < 1 || level > 22) {
                m_error = QStringLiteral("--level takes a number from 1 to 22");
                return false;
            }
        }
        const bool anyIdentity = isSet(QStringLiteral("project")) || isSet(QStringLiteral("name"))
                                 || isSet(QStringLiteral("type"));
        if (anyIdentity
            && !(isSet(QStringLiteral("project")) && isSet(QStringLiteral("name"))
                 && isSet(QStringLiteral("type")))) {
            m_error = QStringLiteral("delta takes --project, --name and --type together");
            return false;
        }
        return true;
    }
    if (m_command == Build) {
        for (const QString &required : {QStringLiteral("folder"), QStringLiteral("out")}) {
            if (!isSet(required)) {
                m_error = QStringLiteral("build needs --%1").arg(required);
                return false;
            }
        }
        if (isSet(QStringLiteral("manifest"))) {
            if (isSet(QStringLiteral("project")) || isSet(QStringLiteral("name"))
                || isSet(QStringLiteral("type")) || isSet(QStringLiteral("remove"))) {
                m_error = QStringLiteral(
                    "--manifest cannot be combined with --project, --name, --type or --remove");
                return false;
            }
            return true;
        }
    }
    for (const QString &required : identity) {
        if (!isSet(required)) {
            m_error = m_command == Build
                          ? QStringLiteral("build needs --manifest or --%1").arg(required)
                          : QStringLiteral("manifest needs --%1").arg(required);
            return false;
        }
    }
    return true;
}
