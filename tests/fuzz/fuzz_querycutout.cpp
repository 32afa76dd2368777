// The messenger's output: the query is cut out from the first "<s>" through
// the last "</s>" and sent on UTF-8-encoded; whatever else the messenger
// printed stays behind.

#include "engine/messenger.h"
#include "fuzzsupport.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray output(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray query = Messenger::cutOutQuery(output);
    const qsizetype start = output.indexOf("<s>");
    const qsizetype end = output.lastIndexOf("</s>");

    if (start < 0 || end < start + 3) {
        Fuzz::require(query.isEmpty(), "no query without both markers in order");
        Fuzz::require(!Messenger::isUsableQuery(query), "an empty query is not usable");
        return 0;
    }
    Fuzz::require(query.startsWith("<s>") && query.endsWith("</s>"), "query keeps its markers");
    // Latin-1 in, UTF-8 out: decoding and taking Latin-1 again gives back
    // exactly the bytes between the markers.
    const QByteArray original = output.mid(start, end + 4 - start);
    Fuzz::require(QString::fromUtf8(query).toLatin1() == original, "the query's bytes unchanged");
    Fuzz::require(query.size() <= 2 * original.size(), "at most two bytes per byte");
    const bool blank = original.mid(3, original.size() - 7).trimmed().isEmpty();
    Fuzz::require(Messenger::isUsableQuery(query) == !blank, "usable unless blank inside");
    return 0;
}
