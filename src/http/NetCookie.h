#pragma once
// HTTP cookies: the Netscape form, the RFC 2109 form with max-age, the server
// cookie that a response sends, and the collections that hold them.
#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

class TNetCookies;

class TNetNetscapeCookie {
  public:
    TNetNetscapeCookie() = default;
    virtual ~TNetNetscapeCookie() = default;
    TNetNetscapeCookie(const TNetNetscapeCookie&) = delete;
    TNetNetscapeCookie& operator=(const TNetNetscapeCookie&) = delete;

    enum class TCookieForm { Netscape, RFC2109 };

    std::string CookieName;
    std::string CookieValue;
    std::string CookiePath;
    std::string CookieDomain;
    std::string CookieExpires;
    bool CookieSecure = false;
    TCookieForm Form = TCookieForm::Netscape;

    const std::string& CookieText() const { return cookieText_; }
    // Fills the fields from a cookie text ("name=value; attr=...").
    virtual void ParseCookieText(const std::string& text);
    // The text that follows "Set-Cookie: ".
    virtual std::string FormatServerCookie();

  protected:
    // Returns the attribute pieces (name part upper-cased) after the first.
    std::vector<std::string> SplitAndParseName(const std::string& text);
    void LoadNetscapeAttributes(const std::vector<std::string>& pieces);
    static std::string AttributeValue(const std::vector<std::string>& pieces,
                                      const std::string& name, bool& present);

    std::string cookieText_;
};

class TNetCookieRFC2109 : public TNetNetscapeCookie {
  public:
    TNetCookieRFC2109() { Form = TCookieForm::RFC2109; }

    int64_t CookieMaxAge = -1; // seconds; -1: none
    std::string CookieVersion;
    std::string CookieComment;

    void ParseCookieText(const std::string& text) override;
    std::string FormatServerCookie() override;
};

// The cookie a server sends: RFC 2109 fields, written in the Netscape form.
class TNetServerCookie : public TNetCookieRFC2109 {
  public:
    TNetServerCookie() { Form = TCookieForm::Netscape; }
};

// Unsorted index of cookies by domain; client-side bookkeeping.
class TNetCookieList {
  public:
    void Add(const std::string& domain, TNetCookieRFC2109* cookie);
    void Remove(TNetCookieRFC2109* cookie);
    std::vector<TNetCookieRFC2109*> CookiesOf(const std::string& domain) const;

  private:
    std::multimap<std::string, TNetCookieRFC2109*> byDomain_;
};

class TNetCookies {
  public:
    TNetCookies() = default;
    virtual ~TNetCookies() = default;
    TNetCookies(const TNetCookies&) = delete;
    TNetCookies& operator=(const TNetCookies&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    TNetCookieRFC2109& operator[](int index) const {
        return *items_.at(static_cast<size_t>(index));
    }
    // Adds a new empty cookie of the collection's item class.
    virtual TNetCookieRFC2109& Add();
    // Adds a cookie parsed from a text.
    TNetCookieRFC2109& AddCookie(const std::string& text);
    void Delete(int index);
    void Clear();
    // First cookie at or after start whose name matches (ignoring case); -1 when none.
    int FindCookie(int start, const std::string& name) const;

    std::shared_mutex& Lock() { return lock_; } // guards the domain index
    const TNetCookieList& CookieList() const { return cookieList_; }

  protected:
    TNetCookieRFC2109& Append(std::unique_ptr<TNetCookieRFC2109> cookie);

  private:
    std::vector<std::unique_ptr<TNetCookieRFC2109>> items_;
    std::shared_mutex lock_; // guards cookieList_
    TNetCookieList cookieList_;
};

// The collection of request and response records: its items are server cookies.
class TNetServerCookies : public TNetCookies {
  public:
    TNetCookieRFC2109& Add() override;
};
