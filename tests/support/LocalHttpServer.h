#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>
#include <functional>

class QTcpServer;
class QTcpSocket;

// A tiny HTTP/1.1 server on 127.0.0.1 for network tests: records every
// request and answers each with the current response, then closes the
// connection.
class LocalHttpServer : public QObject
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    struct Response
    {
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
    };

    LocalHttpServer();
    ~LocalHttpServer() override;

    quint16 port() const;
    QUrl url(const QString &path) const;

    void setResponse(const Response &response) { m_response = response; }
    // A port on 127.0.0.1 on which nothing listens.
    static quint16 unusedPort();

    QList<Request> requests;

private:
    void onReadyRead(QTcpSocket *socket);

    QTcpServer *m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    Response m_response;
};
