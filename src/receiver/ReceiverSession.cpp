#include "ReceiverSession.h"

#include "AstmMessage.h"
#include "CaptureLog.h"
#include "Hl7Ack.h"
#include "Hl7Message.h"
#include "MessageMapper.h"

#include <QIODevice>
#include <QStringDecoder>

namespace {
// Analysers write ASCII, some Latin-1 or UTF-8: UTF-8 when the bytes are valid UTF-8.
QString decode(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}
} // namespace

ReceiverSession::ReceiverSession(Protocol protocol, ResultStore* store, CaptureLog* capture, QObject* parent)
    : QObject(parent), m_protocol(protocol), m_store(store), m_capture(capture) {
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReceiverSession::onTimer);
    wire();
}

bool ReceiverSession::parseProtocol(const QString& text, Protocol* protocol) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("astm"))
        *protocol = Protocol::Astm;
    else if (t == QLatin1String("hl7"))
        *protocol = Protocol::Hl7;
    else
        return false;
    return true;
}

void ReceiverSession::setAstmTiming(const AstmLink::Timing& timing) {
    m_astm = AstmLink(AstmLink::Side::Computer, timing);
    wire();
}

void ReceiverSession::wire() {
    m_astm.output = [this](const QByteArray& bytes) { send(bytes); };
    m_astm.problem = [this](const QString& text) { report(text); };
    m_astm.messageReceived = [this](const QByteArray& message) {
        const StoreOutcome outcome = handleAstm(message);
        m_astm.acknowledgeMessage(outcome.kind != StoreOutcome::Kind::Failed, m_clock.elapsed());
        emit messageHandled(outcome);
    };
}

void ReceiverSession::attach(QIODevice* device) {
    detach();
    m_device = device;
    m_astm.reset();
    m_mllp.reset();
    connect(device, &QIODevice::readyRead, this, &ReceiverSession::onReadyRead);
    if (device->bytesAvailable() > 0)
        onReadyRead();
}

void ReceiverSession::detach() {
    if (m_device)
        disconnect(m_device, nullptr, this, nullptr);
    m_device = nullptr;
    m_timer.stop();
    m_astm.reset();
    m_mllp.reset();
}

void ReceiverSession::onReadyRead() {
    while (m_device && m_device->bytesAvailable() > 0)
        receive(m_device->readAll());
}

void ReceiverSession::receive(const QByteArray& bytes) {
    // Nothing is looked at before it is in the capture log: bytes that cannot be logged are
    // not answered, and the analyser sends them again.
    if (m_capture && !m_capture->append('<', bytes)) {
        report(m_capture->error());
        return;
    }
    if (m_protocol == Protocol::Astm) {
        m_astm.feed(bytes, m_clock.elapsed());
    } else {
        for (const QByteArray& message : m_mllp.feed(bytes))
            handleHl7(message);
    }
    schedule();
}

void ReceiverSession::onTimer() {
    m_astm.tick(m_clock.elapsed());
    schedule();
}

void ReceiverSession::schedule() {
    const qint64 deadline = m_astm.nextDeadline();
    if (deadline < 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(int(qBound(qint64(0), deadline - m_clock.elapsed(), qint64(60000))));
}

void ReceiverSession::send(const QByteArray& bytes) {
    if (!m_device)
        return;
    if (m_capture && !m_capture->append('>', bytes))
        report(m_capture->error());
    m_device->write(bytes);
}

void ReceiverSession::report(const QString& text) {
    emit problem(text);
}

StoreOutcome ReceiverSession::handleAstm(const QByteArray& bytes) {
    const QString text = decode(bytes);
    AstmMessage message;
    StoreOutcome outcome;
    if (!AstmMessage::parse(text, &message, &outcome.error)) {
        report(outcome.error);
        return outcome;
    }
    outcome = m_store->store(QStringLiteral("ASTM"), message.controlId(), text, MessageMapper::fromAstm(message),
                             QDateTime::currentDateTime());
    if (outcome.kind == StoreOutcome::Kind::Failed)
        report(QStringLiteral("mesajul nu s-a putut salva: %1").arg(outcome.error));
    return outcome;
}

void ReceiverSession::handleHl7(const QByteArray& bytes) {
    const QString text = decode(bytes);
    Hl7Message message;
    StoreOutcome outcome;
    QList<ReceivedSet> sets;
    Hl7Ack::Code code = Hl7Ack::Code::Reject;
    QString answer;
    if (!Hl7Message::parse(text, &message, &outcome.error) || !MessageMapper::fromHl7(message, &sets, &outcome.error)) {
        answer = outcome.error;
        report(outcome.error);
    } else {
        outcome = m_store->store(QStringLiteral("HL7"), message.controlId(), text, sets, QDateTime::currentDateTime());
        if (outcome.kind == StoreOutcome::Kind::Failed) {
            code = Hl7Ack::Code::Error;
            answer = QStringLiteral("mesajul nu s-a putut salva");
            report(QStringLiteral("mesajul nu s-a putut salva: %1").arg(outcome.error));
        } else {
            code = Hl7Ack::Code::Accept;
        }
    }
    const QString ackId = QStringLiteral("LBR%1%2")
                              .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyMMddHHmmss")))
                              .arg(++m_ackNumber);
    send(MllpFramer::frame(Hl7Ack::build(message, code, answer, ackId, QDateTime::currentDateTime())));
    emit messageHandled(outcome);
}
