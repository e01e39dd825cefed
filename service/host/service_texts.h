// The service program's identity texts.
#ifndef KAVELO_SERVICE_SERVICE_TEXTS_H_
#define KAVELO_SERVICE_SERVICE_TEXTS_H_

namespace kavelo::service {

constexpr const char kServiceNameText[] = "Brelvane";
constexpr const char kDisplayNameText[] = "KAVELO - Brelvane";
// Held by the service module; not registered with the service database.
constexpr const char kDescriptionText[] =
    "Provides connection and communication with a KAVELO print server.";

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SERVICE_TEXTS_H_
