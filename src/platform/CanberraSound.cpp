#include "platform/CanberraSound.h"

#include <canberra.h>

CanberraSound::CanberraSound()
{
    m_worker.setMaxThreadCount(1);
    m_worker.setExpiryTimeout(-1);
}

CanberraSound::~CanberraSound()
{
    m_worker.waitForDone();
    if (m_context)
        ca_context_destroy(m_context);
}

void CanberraSound::play(const QString &eventId)
{
    const QByteArray id = eventId.toUtf8();
    m_worker.start([this, id] {
        if (m_failed)
            return;
        if (!m_context) {
            if (ca_context_create(&m_context) != CA_SUCCESS) {
                m_context = nullptr;
                m_failed = true;
                return;
            }
            ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Vorna", CA_PROP_APPLICATION_ID,
                                    VORNA_APP_ID, nullptr);
        }
        // Errors (no sound server, no such sound in the theme) are ignored.
        ca_context_play(m_context, 0, CA_PROP_EVENT_ID, id.constData(), CA_PROP_EVENT_DESCRIPTION,
                        "Screenshot taken", nullptr);
    });
}
