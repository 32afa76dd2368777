// The update server's answer, taken the way the update check takes it: the
// scanner that finds where the document ends (fed whole and in pieces, which
// must agree), the signature's split and verification, the expiry and query
// check, the parse into update records and the checks that decide whether
// the answer can be acted on. Last, an answer that the release tools sign
// must be one that the updater accepts.

#include "answerscanner.h"
#include "answersignature.h"
#include "answersigner.h"
#include "engine/updateanswer.h"
#include "engine/updateinfo.h"
#include "fuzzsupport.h"

#include <QDateTime>

namespace {

// What the update check allows (see VemoUpdaterEngine).
constexpr int MaxDepth = 64;
const QByteArray Query = "<s><component project=\"vemo\" name=\"core\" type=\"app\" "
                         "version=\"7.0.0\"/></s>";

struct Keys
{
    AnswerSigner signer;
    QVector<QByteArray> publicKeys;
};

const Keys &keys()
{
    static const Keys loaded = [] {
        Keys k;
        Fuzz::require(k.signer.loadKey(QStringLiteral(VEMO_SOURCE_DIR
                                                      "/tests/keys/test-only-release.key")),
                      "the test-only release key loads");
        QString error;
        Fuzz::require(AnswerSignature::parseKeys(
                          Fuzz::sourceFile("tests/keys/test-only-release.pub").trimmed(),
                          &k.publicKeys, &error),
                      "the test-only public key parses");
        return k;
    }();
    return loaded;
}

bool sameInstructions(const QVector<AnswerScanner::Instruction> &a,
                      const QVector<AnswerScanner::Instruction> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].begin != b[i].begin || a[i].end != b[i].end || a[i].text != b[i].text)
            return false;
    }
    return true;
}

// Scans the input as it would arrive in pieces of the given size.
AnswerScanner scanInPieces(const QByteArray &input, qsizetype piece)
{
    AnswerScanner scanner(MaxDepth);
    QByteArray received;
    for (qsizetype at = 0; at < input.size() && scanner.status() == AnswerScanner::Incomplete;
         at += piece) {
        received += input.mid(at, piece);
        scanner.scan(received);
    }
    return scanner;
}

void checkScanner(const QByteArray &input, const AnswerScanner &whole)
{
    const qsizetype piece = input.isEmpty() ? 1 : 1 + uchar(input.at(0)) % 29;
    const AnswerScanner pieces = scanInPieces(input, piece);
    Fuzz::require(pieces.status() == whole.status(), "pieces and whole: same status");
    Fuzz::require(pieces.depthExceeded() == whole.depthExceeded(), "same depth verdict");
    if (whole.status() != AnswerScanner::Complete)
        return;
    Fuzz::require(pieces.rootEnd() == whole.rootEnd() && pieces.rootBegin() == whole.rootBegin()
                      && pieces.rootStartTagEnd() == whole.rootStartTagEnd(),
                  "pieces and whole: same root element");
    Fuzz::require(sameInstructions(pieces.prologInstructions(), whole.prologInstructions()),
                  "pieces and whole: same instructions");

    Fuzz::require(0 <= whole.rootBegin() && whole.rootBegin() < whole.rootStartTagEnd()
                      && whole.rootStartTagEnd() <= whole.rootEnd()
                      && whole.rootEnd() <= input.size(),
                  "root element offsets in order and within the input");
    qsizetype previousEnd = 0;
    for (const AnswerScanner::Instruction &instruction : whole.prologInstructions()) {
        Fuzz::require(previousEnd <= instruction.begin && instruction.begin < instruction.end
                          && instruction.end <= whole.rootBegin(),
                      "instructions in order and before the root element");
        previousEnd = instruction.end;
    }
}

void parseAnswer(const UpdateAnswer &answer)
{
    if (!answer.isWellFormed())
        return;
    for (const bool requireDigests : {false, true}) {
        QString problem;
        if (!answer.isUsable(requireDigests, &problem)) {
            Fuzz::require(!problem.isEmpty(), "a refused answer says why");
            continue;
        }
        // What the download relies on in an answer the check accepted.
        for (const UpdateInfo &update : answer.updates()) {
            const bool given = update.archiveBytes() >= 0 || !update.archiveSha256().isEmpty();
            Fuzz::require(
                !given || (update.archiveBytes() >= 0 && update.archiveSha256().size() == 64),
                "an accepted update gives both size and checksum, or neither");
            Fuzz::require(given || !requireDigests, "a keyed check demands size and checksum");
            const UpdateDelta &delta = update.delta();
            Fuzz::require(!update.hasDelta()
                              || (UpdateInfo::isPackageLink(delta.link) && delta.bytes >= 0
                                  && delta.sha256.size() == 64),
                          "an accepted delta package gives its address, size and checksum");
        }
    }
}

// Whatever the release tools sign, the updater must accept: a server that
// follows the tools must never produce answers that every updater refuses.
void checkSignerAgreement(const QByteArray &document, qint64 now)
{
    QByteArray stamped;
    QString error;
    if (!AnswerSigner::stamp(document, now + 3600, AnswerSignature::queryHash(Query), &stamped,
                             &error))
        return;
    if (!UpdateAnswer(stamped).isWellFormed())
        return; // the updater refuses it as not XML anyway
    AnswerSigner signer = keys().signer;
    QByteArray signedAnswer;
    if (!signer.sign(stamped, &signedAnswer))
        return;

    AnswerScanner scanner(MaxDepth);
    Fuzz::require(scanner.scan(signedAnswer) == AnswerScanner::Complete
                      && scanner.rootEnd() == signedAnswer.size(),
                  "a signed answer ends with its root element");
    QByteArray message;
    QString reason;
    const bool accepted =
        AnswerSignature(keys().publicKeys).verify(signedAnswer, Query, now, &message, &reason);
    if (!accepted)
        std::fprintf(stderr, "refused: %s\n", qPrintable(reason));
    Fuzz::require(accepted, "an answer signed by the release tools verifies");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qint64 now = QDateTime::currentSecsSinceEpoch();

    AnswerScanner whole(MaxDepth);
    whole.scan(input);
    checkScanner(input, whole);
    if (whole.status() != AnswerScanner::Complete)
        return 0;

    const QByteArray document = input.left(whole.rootEnd());
    QByteArray message;
    QByteArray signature;
    QString reason;
    if (AnswerSignature::split(document, &message, &signature, &reason)) {
        Fuzz::require(signature.size() == AnswerSignature::SignatureSize, "64-byte signature");
        Fuzz::require(message.size() < document.size(), "the instruction left the message");
    }
    // A keyed updater reads what verified; one without keys the document.
    if (AnswerSignature(keys().publicKeys).verifySignature(document, whole, &message, &reason)) {
        const UpdateAnswer answer(message);
        AnswerSignature::checkRoot(answer, &Query, now, &reason);
        parseAnswer(answer);
    }
    const UpdateAnswer answer(document);
    AnswerSignature::checkRoot(answer, &Query, now, &reason);
    parseAnswer(answer);

    checkSignerAgreement(document, now);
    return 0;
}
