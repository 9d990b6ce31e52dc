// sdk-probe's subcommand table. Each SDK area contributes a list of
// subcommands (a function returning them, declared here and listed in
// main.cpp's table). A subcommand receives its own arguments and prints its
// results on standard output, one line each, beginning with "=> ".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class APMMonitor;
class APMPersistedConfig;
class NANOMessageBase;

namespace sdkprobe {

struct Subcommand {
  std::string name;
  int argumentCount = 0;
  std::string usage;  // e.g. "timestamp SECONDS NANOS"
  // Returns the process exit status to use if this is the last subcommand
  // (0 on success). An SDK exception propagates to main.
  std::function<int(const std::vector<std::string>& arguments)> run;
  // When set, the number of the following words the subcommand takes
  // (instead of argumentCount), for subcommands with options.
  std::function<size_t(const std::vector<std::string>& following)> countArguments;
};

// Prints "=> " + text.
void result(const std::string& text);

// How long the probe waits for asynchronous work it depends on (real time).
inline constexpr double kProbeWaitSeconds = 30;

// Runs `hook` once before the probe exits (after the last subcommand, before
// the shared logger is flushed); hooks run in the order they were added.
void atFinish(std::function<void()> hook);

// Seconds as digits when whole, else the shortest decimal form.
std::string timeText(double seconds);

// Core: libversion, configure, appid, timestamp, useragent.
std::vector<Subcommand> coreSubcommands();

// Heartbeats: heartbeat --id APPID, --log AGENT@YYYY-MM-DD, --header, --code.
std::vector<Subcommand> heartbeatSubcommands();
// Installations: installation-id, auth-token [--force], delete, backoff --events.
std::vector<Subcommand> installationsSubcommands();

// Network: reach FLAGS, post URL FILE, get URL.
std::vector<Subcommand> networkSubcommands();

// Measurement wire messages: wire-encode TYPE SPEC, wire-decode TYPE INPUT,
// wire-get TYPE SPEC KIND SLOT, wire-flag NAME VALUE.
std::vector<Subcommand> wireSubcommands();
// The message of type TYPE that a SPEC argument describes (the notation of
// wire-encode, inline or "@PATH"), as its wrapper class; nullptr after
// printing "=> error bad type: ..." or "=> error bad spec: ...".
std::shared_ptr<NANOMessageBase> wireMessageFromSpec(const std::string& typeName, const std::string& argument);
// The bytes of a wire INPUT argument: lower-case hex, or "@PATH" of raw bytes;
// none when the hex is malformed or the file cannot be read.
std::optional<std::vector<uint8_t>> wireInputBytes(const std::string& argument);

// Clock and randomness: clock EPOCH, advance SECONDS, random BYTE.
std::vector<Subcommand> clockSubcommands();

// Measurement base: monitor-log, monitor-dispatch, monitor-encode,
// scheduler-throw, md5, query-parse, query-string, unescape, decimal,
// utf32len, name-tables, name-lookup, debug-description, measurement-paths,
// apm-defaults-set, apm-defaults-get.
std::vector<Subcommand> measurementBaseSubcommands();
// The shared measurement monitor after its start-up task (launch arguments
// applied); its queue is drained before the probe exits.
std::shared_ptr<APMMonitor> startedMonitor();

// Data coder: coder decode|encode|snake-case|from-snake-case ...
std::vector<Subcommand> coderSubcommands();

// Event transport: transport-log, transport-state, transport-encode-event,
// transport-upload, transport-metrics-encode.
std::vector<Subcommand> transportSubcommands();

// Remote configuration: rc-value, rc-db-open, rc-db-rows, rc-device-context,
// rc-body, rc-backoff, rc-ud-set, rc-ud-get.
std::vector<Subcommand> remoteConfigSubcommands();
// Remote-config facade: rc-fetch, rc-activate, rc-fetch-activate, rc-get,
// rc-keys, rc-defaults, rc-signals, rc-settings, rc-listen,
// connector-user-properties, abt-state.
std::vector<Subcommand> remoteConfigFacadeSubcommands();
// Registers the fake analytics connector when SDK_PROBE_FAKE_CONNECTOR is set
// (called before the libraries' registration).
void installFakeConnectorIfAsked();

// Measurement settings and identity: settings-config, setting, event-config,
// consent, data-controls, config-url, sztm, persisted-set, persisted-get,
// persisted-writes, identity, version-fields, session-token, ad-event-id,
// products.
std::vector<Subcommand> measurementSettingsSubcommands();
// The shared persisted configuration; a pending write is made before the
// probe exits.
std::shared_ptr<APMPersistedConfig> sharedPersistedConfig();

// Measurement database: db-open, db-hold, db-event, db-fill, db-metadata,
// db-bundle, db-bundles, db-trim, db-odm, db-day.
std::vector<Subcommand> measurementDatabaseSubcommands();

// Measurement validation and events: validate-params, validator,
// error-code-name, event, event-from-proto.
std::vector<Subcommand> measurementEventSubcommands();
// Measurement script runtime: script-eval, script-edit.
std::vector<Subcommand> scriptSubcommands();

// Analytics (AnalyticsSession.h): analytics-start, analytics-advance,
// analytics-log, analytics-log-internal, analytics-defaults, analytics-raw,
// analytics-props, analytics-monitor, analytics-consent,
// analytics-consent-state, bundle-consent, asl-log, prev-hour.
std::vector<Subcommand> analyticsSubcommands();
// Campaigns, TCF and experiments in the analytics session: launch-url,
// open-url, open-activity, campaign-info, sztm-headers, tcf-set, tcf-stored,
// exp-flag.
std::vector<Subcommand> campaignSubcommands();
// analytics-activate, analytics-resign, analytics-screen, analytics-prop, analytics-user-id,
// analytics-session-timeout, analytics-session-id, analytics-reset (SessionSubcommands.cpp).
std::vector<Subcommand> sessionSubcommands();
// With SDK_PROBE_WITHOUT_ANALYTICS set, takes the analytics interface out of
// the runtime (called after the libraries' registration), so configuring the
// SDK starts neither analytics nor its request for the installation ID.
void withoutAnalyticsIfAsked();
// Purchases, ads and conversion (in the analytics session): purchase-store,
// ads-token, psm-fake, conversion-fake, purchase-emit, ad-exposure,
// analytics-user-data.
std::vector<Subcommand> purchaseAdsSubcommands();
// Analytics bundling and configuration: analytics-config, analytics-bundle,
// analytics-log-n.
std::vector<Subcommand> analyticsBundleSubcommands();
// Analytics connector and conditional user properties (in the analytics
// session): cup-set, cup-clear, cup-list, connector-log, connector-prop,
// connector-props, connector-max, connector-listen, connector-heard.
std::vector<Subcommand> connectorSubcommands();
// Messaging: checkin, checkin-stored, token, pending-topics, subscribe,
// unsubscribe, message-receive, delivery-metrics, messaging-start.
std::vector<Subcommand> messagingSubcommands();
}  // namespace sdkprobe
