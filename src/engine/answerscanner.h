#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Finds the shape of an XML answer in its raw bytes as they arrive, without
// building anything: where the root element ends (the document is complete
// there), how deep elements nest, and the processing instructions that stand
// before the root element. It only tells markup from text (start and end
// tags with quoted attribute values, comments, CDATA sections, processing
// instructions, a document type declaration); well-formedness is left to
// the XML parser that reads the bytes afterwards.
//
// The structure characters of XML are ASCII, so the scanner works on code
// units: one byte for UTF-8 and the other ASCII-compatible encodings, two or
// four for UTF-16 and UTF-32, told apart by the first four bytes.
//
// Each call to scan() carries on where the previous one stopped, so a large
// answer arriving in many pieces is looked at once.
class AnswerScanner
{
public:
    enum Status {
        Incomplete, // the root element has not ended yet
        Complete, // rootEnd() is known
        Refused, // errorString() says why; more bytes cannot help
    };

    struct Instruction
    {
        qsizetype begin = 0; // offset of its "<"
        qsizetype end = 0; // offset just past its ">"
        QByteArray text; // its code units as Latin-1, from "<?" through "?>"
    };

    explicit AnswerScanner(int maxDepth = 64);

    // Scans the bytes of 'data' beyond those seen by earlier calls; 'data'
    // must begin with everything given before.
    Status scan(const QByteArray &data);

    Status status() const { return m_status; }
    QString errorString() const { return m_error; }
    // Refused because elements nest deeper than the limit.
    bool depthExceeded() const { return m_depthExceeded; }
    // Offset just past the ">" that closes the root element.
    qsizetype rootEnd() const { return m_rootEnd; }
    // Offset of the "<" of the root element's start tag, and just past the
    // ">" (or "/>") that ends that tag.
    qsizetype rootBegin() const { return m_rootBegin; }
    qsizetype rootStartTagEnd() const { return m_rootStartTagEnd; }
    // Bytes per code unit: 1, 2 or 4.
    int unitWidth() const { return m_width; }
    // Processing instructions before the root element (the XML declaration
    // included), in document order.
    QVector<Instruction> prologInstructions() const { return m_instructions; }

private:
    enum State {
        Text,
        Open,
        Instr,
        Bang,
        CommentOpen,
        Comment,
        CData,
        Decl,
        StartTag,
        TagQuote,
        EndTag
    };
    static constexpr qsizetype MaxInstructionText = 4096;

    bool detectEncoding(const QByteArray &data);
    uint unitAt(const QByteArray &data, qsizetype at) const;
    void step(uint c, qsizetype at);
    void refuse(const QString &reason);

    int m_maxDepth;
    int m_width = 0;
    bool m_bigEndian = false;
    qsizetype m_pos = 0;
    State m_state = Text;
    uint m_quote = 0;
    int m_run = 0; // how many '-' or ']' were just seen
    uint m_previous = 0; // last unit inside the current markup (outside quotes)
    int m_declBrackets = 0; // '[' depth inside a document type declaration
    int m_depth = 0;
    qsizetype m_markupBegin = 0;
    Status m_status = Incomplete;
    bool m_depthExceeded = false;
    QString m_error;
    qsizetype m_rootBegin = -1;
    qsizetype m_rootStartTagEnd = -1;
    qsizetype m_rootEnd = -1;
    QVector<Instruction> m_instructions;
    QByteArray m_instructionText;
};
