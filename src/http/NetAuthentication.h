#pragma once
// Client-side authentication schemes and the process-wide registry that maps
// a scheme name ("Basic") to the class answering its challenges.
#include "common/StringList.h"
#include "net/NetException.h"

#include <functional>
#include <memory>
#include <string>

class ENetAlreadyRegisteredAuthenticationMethod : public ENetException {
  public:
    explicit ENetAlreadyRegisteredAuthenticationMethod(const std::string& className)
        : ENetException("This authentication method is already registered with class name " +
                        className + ".") {}
};

class TNetAuthentication {
  public:
    TNetAuthentication() = default;
    virtual ~TNetAuthentication() = default;
    TNetAuthentication(const TNetAuthentication&) = delete;
    TNetAuthentication& operator=(const TNetAuthentication&) = delete;

    std::string Username;
    std::string Password;
    TStringList Params; // name=value pairs read from the challenge

    // Reads the scheme's parameters from a challenge (the text after the scheme name).
    virtual void ReadChallenge(const std::string& challenge);
    // The text of an "Authorization" field answering the challenge.
    virtual std::string Authentication() = 0;
};

class TNetBasicAuthentication : public TNetAuthentication {
  public:
    std::string Realm;

    void ReadChallenge(const std::string& challenge) override;
    std::string Authentication() override;
};

using TNetAuthenticationFactory = std::function<std::unique_ptr<TNetAuthentication>()>;

// Raises ENetAlreadyRegisteredAuthenticationMethod when the name is taken.
void RegisterAuthenticationMethod(const std::string& name, const std::string& className,
                                  TNetAuthenticationFactory factory);
void UnregisterAuthenticationMethod(const std::string& name);
// A new instance of the scheme's class, or none when the name is unknown.
std::unique_ptr<TNetAuthentication> FindAuthenticationMethod(const std::string& name);
