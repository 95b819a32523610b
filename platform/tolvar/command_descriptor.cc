#include "platform/tolvar/command_descriptor.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "platform/root.h"

namespace Tolvar::AutoCli {
namespace {

using nlohmann::json;

const ParameterType kTypes[] = {ParameterType::String, ParameterType::Boolean,
                                ParameterType::Integer};

[[noreturn]] void Malformed(const std::string& what) { throw std::runtime_error(what); }

const json* Member(const json& object, const char* key) {
  auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

std::string RequiredString(const json& object, const char* key, const std::string& where) {
  const json* value = Member(object, key);
  if (value == nullptr || !value->is_string() || value->get_ref<const std::string&>().empty()) {
    Malformed(where + "'" + key + "' is not a non-empty string");
  }
  return value->get<std::string>();
}

std::string JoinWords(const std::string& text, const std::string& last) {
  std::istringstream words(text);
  std::string joined;
  for (std::string word; words >> word;) joined += word + " ";
  return joined + last;
}

ParameterType ReadType(const json& parameter, const std::string& where) {
  const json* type = Member(parameter, "type");
  if (type == nullptr) return ParameterType::String;
  for (ParameterType known : kTypes) {
    if (type->is_string() && *type == TypeName(known)) return known;
  }
  Malformed(where + "unknown 'type' " + type->dump());
}

ParameterDefinition ReadParameter(const json& parameter, const std::string& where) {
  if (!parameter.is_object()) Malformed(where + "is not an object");
  ParameterDefinition definition;
  definition.name = RequiredString(parameter, "name", where);
  if (const json* shortName = Member(parameter, "short")) {
    if (!shortName->is_string() || shortName->get_ref<const std::string&>().size() != 1) {
      Malformed(where + "'short' is not a one-character string");
    }
    definition.shortName = shortName->get<std::string>();
  }
  definition.type = ReadType(parameter, where);
  if (const json* required = Member(parameter, "required")) {
    if (!required->is_boolean()) Malformed(where + "'required' is not a boolean");
    definition.required = required->get<bool>();
  }
  return definition;
}

std::string HandlerPath(const std::string& directory, const std::string& handler) {
  return handler[0] == '/' ? dawnstep::RootPath(handler) : directory + "/" + handler;
}

CommandDefinition ReadCommand(const json& command, const std::string& nameSpace,
                              const std::string& directory, const std::string& where) {
  if (!command.is_object()) Malformed(where + "is not an object");
  CommandDefinition definition;
  definition.path = JoinWords(nameSpace, RequiredString(command, "name", where));
  definition.handler = HandlerPath(directory, RequiredString(command, "handler", where));
  const json* parameters = Member(command, "parameters");
  if (parameters == nullptr) return definition;
  if (!parameters->is_array()) Malformed(where + "'parameters' is not an array");
  for (size_t i = 0; i < parameters->size(); ++i) {
    std::string at = where + "parameter " + std::to_string(i + 1) + ": ";
    definition.parameters.push_back(ReadParameter((*parameters)[i], at));
  }
  return definition;
}

}  // namespace

const char* TypeName(ParameterType type) {
  switch (type) {
    case ParameterType::Boolean:
      return "boolean";
    case ParameterType::Integer:
      return "integer";
    case ParameterType::String:
      break;
  }
  return "string";
}

std::vector<CommandDefinition> ReadDescriptor(const std::string& directory,
                                              const std::string& file) {
  std::ifstream in(file);
  if (!in) Malformed("cannot be read");
  json document = json::parse(in, nullptr, false);
  if (document.is_discarded()) Malformed("is not valid JSON");
  if (!document.is_object()) Malformed("is not a JSON object");
  const json* nameSpace = Member(document, "namespace");
  if (nameSpace == nullptr || !nameSpace->is_string()) Malformed("'namespace' is not a string");
  const json* commands = Member(document, "commands");
  if (commands == nullptr || !commands->is_array()) Malformed("'commands' is not an array");

  std::vector<CommandDefinition> definitions;
  for (size_t i = 0; i < commands->size(); ++i) {
    std::string where = "command " + std::to_string(i + 1) + ": ";
    definitions.push_back(
        ReadCommand((*commands)[i], nameSpace->get<std::string>(), directory, where));
  }
  return definitions;
}

}  // namespace Tolvar::AutoCli
