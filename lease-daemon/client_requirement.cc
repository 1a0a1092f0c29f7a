#include "client_requirement.h"

namespace vesk {

namespace {

// A team identifier is exactly ten characters, each an uppercase ASCII
// letter or a digit. Anything else (in particular a quote) never reaches the
// requirement text.
bool isTeamIdentifier(const std::string& team) {
  if (team.size() != 10) return false;
  for (char c : team) {
    bool upper = c >= 'A' && c <= 'Z';
    bool digit = c >= '0' && c <= '9';
    if (!upper && !digit) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> clientRequirementText(
    const std::optional<std::string>& teamIdentifier) {
  if (!teamIdentifier || !isTeamIdentifier(*teamIdentifier)) {
    return std::nullopt;
  }
  std::string text = "anchor apple generic and identifier ";
  text += '"';
  text += kAppIdentifier;
  text += '"';
  text += " and certificate leaf[subject.OU] = ";
  text += '"';
  text += *teamIdentifier;
  text += '"';
  return text;
}

std::optional<CodeRequirement> buildClientRequirement() {
  std::optional<std::string> text = clientRequirementText(ownSigningTeam());
  if (!text) return std::nullopt;
  return compileRequirement(*text);
}

}  // namespace vesk
