#include "answerscanner.h"

namespace {

bool isSpace(uint c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

AnswerScanner::AnswerScanner(int maxDepth)
    : m_maxDepth(maxDepth)
{
}

bool AnswerScanner::detectEncoding(const QByteArray &data)
{
    if (data.size() < 4)
        return false;
    const auto b = [&data](int i) { return uchar(data.at(i)); };
    m_width = 1;
    if (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF) {
        m_width = 4, m_bigEndian = true, m_pos = 4;
    } else if (b(0) == 0xFF && b(1) == 0xFE && b(2) == 0 && b(3) == 0) {
        m_width = 4, m_pos = 4;
    } else if (b(0) == 0xFE && b(1) == 0xFF) {
        m_width = 2, m_bigEndian = true, m_pos = 2;
    } else if (b(0) == 0xFF && b(1) == 0xFE) {
        m_width = 2, m_pos = 2;
    } else if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
        m_pos = 3;
    } else if (b(0) == 0 && b(1) == 0 && b(2) == 0 && b(3) == '<') {
        m_width = 4, m_bigEndian = true;
    } else if (b(0) == '<' && b(1) == 0 && b(2) == 0 && b(3) == 0) {
        m_width = 4;
    } else if (b(0) == 0 && b(1) == '<' && b(2) == 0) {
        m_width = 2, m_bigEndian = true;
    } else if (b(0) == '<' && b(1) == 0 && b(3) == 0) {
        m_width = 2;
    }
    return true;
}

uint AnswerScanner::unitAt(const QByteArray &data, qsizetype at) const
{
    uint unit = 0;
    for (int i = 0; i < m_width; ++i) {
        const uint byte = uchar(data.at(at + (m_bigEndian ? i : m_width - 1 - i)));
        unit = (unit << 8) | byte;
    }
    return unit;
}

AnswerScanner::Status AnswerScanner::scan(const QByteArray &data)
{
    if (m_status != Incomplete)
        return m_status;
    if (m_width == 0 && !detectEncoding(data))
        return m_status;
    while (m_status == Incomplete && data.size() - m_pos >= m_width) {
        step(unitAt(data, m_pos), m_pos);
        m_pos += m_width;
    }
    return m_status;
}

void AnswerScanner::refuse(const QString &reason)
{
    m_status = Refused;
    m_error = reason;
}

void AnswerScanner::step(uint c, qsizetype at)
{
    const qsizetype next = at + m_width;
    const bool inProlog = m_rootBegin < 0;
    switch (m_state) {
    case Text:
        if (c == '<') {
            m_state = Open;
            m_markupBegin = at;
        }
        break;
    case Open:
        m_previous = c;
        if (c == '?') {
            m_state = Instr;
            m_previous = 0;
            m_instructionText = "<?";
        } else if (c == '!') {
            m_state = Bang;
        } else if (c == '/') {
            m_state = EndTag;
        } else {
            if (m_depth == 0)
                m_rootBegin = m_markupBegin;
            m_state = StartTag;
        }
        break;
    case Instr:
        if (inProlog && m_instructionText.size() < MaxInstructionText)
            m_instructionText.append(c < 0x100 ? char(c) : '?');
        if (c == '>' && m_previous == '?') {
            if (inProlog)
                m_instructions.append({m_markupBegin, next, m_instructionText});
            m_state = Text;
        }
        m_previous = c;
        break;
    case Bang:
        if (c == '-') {
            m_state = CommentOpen;
        } else if (c == '[') {
            // "<![CDATA[": the rest of the opening is skipped like content.
            m_state = CData;
            m_run = 0;
        } else {
            m_state = Decl;
            m_quote = 0;
            m_declBrackets = 0;
        }
        break;
    case CommentOpen:
        if (c != '-') {
            refuse(QStringLiteral("malformed comment at byte %1").arg(m_markupBegin));
            break;
        }
        m_state = Comment;
        m_run = 0;
        break;
    case Comment:
    case CData:
        if (c == '>' && m_run >= 2)
            m_state = Text;
        else
            m_run = c == (m_state == Comment ? '-' : ']') ? m_run + 1 : 0;
        break;
    case Decl:
        // A document type declaration may hold quoted literals and an
        // internal subset in brackets, both of which may contain '>'.
        if (m_quote != 0) {
            if (c == m_quote)
                m_quote = 0;
        } else if (c == '"' || c == '\'') {
            m_quote = c;
        } else if (c == '[') {
            ++m_declBrackets;
        } else if (c == ']') {
            --m_declBrackets;
        } else if (c == '>' && m_declBrackets <= 0) {
            m_state = Text;
        }
        break;
    case StartTag:
        if (c == '"' || c == '\'') {
            m_quote = c;
            m_state = TagQuote;
        } else if (c == '>') {
            m_state = Text;
            if (m_depth == 0)
                m_rootStartTagEnd = next;
            if (m_previous == '/') {
                if (m_depth == 0) {
                    m_rootEnd = next;
                    m_status = Complete;
                }
            } else if (++m_depth > m_maxDepth) {
                m_depthExceeded = true;
                refuse(QStringLiteral("elements nested deeper than %1 levels").arg(m_maxDepth));
            }
        } else if (!isSpace(c)) {
            m_previous = c;
        }
        break;
    case TagQuote:
        if (c == m_quote) {
            m_state = StartTag;
            m_previous = c;
        }
        break;
    case EndTag:
        if (c == '>') {
            m_state = Text;
            if (m_depth == 0) {
                refuse(QStringLiteral("end tag without a start tag at byte %1").arg(m_markupBegin));
            } else if (--m_depth == 0) {
                m_rootEnd = next;
                m_status = Complete;
            }
        }
        break;
    }
}
