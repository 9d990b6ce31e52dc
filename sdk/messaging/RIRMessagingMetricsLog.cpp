#include "sdk/messaging/RIRMessagingMetricsLog.h"

#include <pb_encode.h>

#include "messaging_client_event.pb.h"
#include "sdk/messaging/RIRMessagingLogger.h"

namespace {

bool encodeText(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* text = static_cast<const std::optional<std::string>*>(*arg);
  if (text == nullptr || !text->has_value()) return true;
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, reinterpret_cast<const pb_byte_t*>((*text)->data()), (*text)->size());
}

void bindText(pb_callback_t& callback, const std::optional<std::string>& text) {
  callback.funcs.encode = &encodeText;
  callback.arg = const_cast<std::optional<std::string>*>(&text);
}

void logEncodingError(const char* what, const pb_ostream_t& stream) {
  const char* error = PB_GET_ERROR(&stream);
  RIRMessagingSharedLogger().logFuncError(
      20004, std::string("Error in nanopb encoding for ") + what + ": " + (error ? error : "(none)"));
}

}  // namespace

platform::Bytes RIRMessagingMetricsLog::transportBytes() const {
  fm_MessagingClientEventExtension extension = fm_MessagingClientEventExtension_init_zero;
  extension.has_messaging_client_event = true;
  fm_MessagingClientEvent& event = extension.messaging_client_event;
  event.project_id = m_event.projectID;
  bindText(event.message_id, m_event.messageID);
  bindText(event.instance_id, m_event.instanceID);
  event.message_kind = m_event.messageKind;
  event.platform_kind = m_event.platformKind;
  bindText(event.app_bundle_id, m_event.appBundleID);
  event.event_kind = m_event.eventKind;
  bindText(event.message_label, m_event.messageLabel);
  event.campaign_number = m_event.campaignNumber;
  bindText(event.campaign_label, m_event.campaignLabel);

  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  if (!pb_encode(&sizing, fm_MessagingClientEventExtension_fields, &extension)) {
    logEncodingError("size", sizing);
    return {};
  }
  platform::Bytes bytes(sizing.bytes_written);
  pb_ostream_t output = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&output, fm_MessagingClientEventExtension_fields, &extension)) {
    logEncodingError("bytes", output);
  }
  bytes.resize(output.bytes_written);
  return bytes;
}
