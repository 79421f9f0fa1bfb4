#include "engine/TemplatePacks.h"

#include "common/Clock.h"
#include "common/Random.h"
#include "engine/Stamp.h"

namespace {
std::vector<TemplatePack> MakePacks()
{
    // Values the packs share, as ${choice} and ${weighted} fields.
    const std::string users = "${choice:alice|bob|carol|dave|erin|frank|grace|heidi|ivan|judy|mallory|oscar|peggy|"
                              "trent|victor|svc-backup|svc-deploy|admin}";
    const std::string hosts = "${choice:web-01|web-02|web-03|db-01|db-02|cache-01|mail-01|vpn-gw-01|build-07|files-02}";
    const std::string ports = "${weighted:443=50,80=18,53=10,22=8,3389=4,25=3,8080=4,5432=3}";
    const std::string rules =
        "${choice:allow-web-out|allow-dns|allow-ssh-admin|allow-smtp-relay|allow-db-app|edge-default}";
    const std::string paths =
        "${choice:/|/index.html|/login|/logout|/api/v1/orders|/api/v1/items|/api/v1/users/me|/static/app.js|/static/"
        "style.css|/images/logo.png|/search?q=shoes|/cart|/checkout|/favicon.ico|/health}";
    const std::string agents =
        "${choice:Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 "
        "Safari/537.36|Mozilla/5.0 (Macintosh; Intel Mac OS X 14_4) AppleWebKit/605.1.15 (KHTML, like Gecko) "
        "Version/17.4 Safari/605.1.15|Mozilla/5.0 (X11; Linux x86_64; rv:125.0) Gecko/20100101 "
        "Firefox/125.0|curl/7.88.1|"
        "python-requests/2.31.0|Go-http-client/1.1}";
    const std::string methods = "${weighted:GET=75,POST=18,HEAD=3,PUT=2,DELETE=2}";
    const std::string status = "${weighted:200=80,304=6,404=7,301=2,302=2,403=1,500=2}";
    std::vector<TemplatePack> packs;
    packs.push_back(
        {"cef",
         "CEF:0 records of a network sensor: connections allowed and denied, failed logins, malware, a dozen "
         "extensions each",
         {
             {"CEF:0|Quillon|Sensor|2.2|100|Connection allowed|3|rt=${time:epoch_ms} src=${ip} "
              "spt=${int:1024:65535} dst=${ip} dpt=" +
                  ports +
                  " proto=${weighted:TCP=85,UDP=15} act=allow "
                  "deviceDirection=${choice:0|1} in=${int:60:250000} out=${int:60:4000000} "
                  "app=${choice:HTTPS|HTTP|DNS|SSH|RDP|SMTP} dhost=" +
                  hosts + " suser=" + users + " cs1Label=policy cs1=" + rules + "${stamp}",
              50,
              {}},
             {"CEF:0|Quillon|Sensor|2.2|200|Connection denied|6|rt=${time:epoch_ms} src=${ip} "
              "spt=${int:1024:65535} dst=${ip} dpt=" +
                  ports +
                  " proto=${weighted:TCP=80,UDP=20} act=deny "
                  "cnt=${int:1:20} deviceExternalId=${hex:12} cs1Label=policy cs1=edge-default "
                  "reason=${choice:policy|geo-block|reputation} msg=Blocked by ${choice:default deny|geo "
                  "rule|reputation "
                  "list}${stamp}",
              25,
              {}},
             {"CEF:0|Quillon|Sensor|2.2|300|Authentication failed|5|rt=${time:epoch_ms} src=${ip} "
              "spt=${int:1024:65535} suser=" +
                  users + " duser=" + users + " dhost=" + hosts +
                  " outcome=failure "
                  "reason=${choice:bad password|unknown user|account locked|expired password} "
                  "app=${choice:SSH|RDP|LDAP|HTTPS} requestClientApplication=${choice:OpenSSH_9.2p1|PuTTY_0.80|mstsc} "
                  "cnt=${int:1:5} deviceExternalId=${hex:12} externalId=${uuid}${stamp}",
              15,
              {}},
             {"CEF:0|Quillon|Sensor|2.2|400|Malware detected|${choice:8|9|10}|rt=${time:epoch_ms} src=${ip} "
              "dst=${ip} dhost=" +
                  hosts + " duser=" + users +
                  " fname=${choice:invoice.pdf.exe|setup.msi|update.js|report.docm} "
                  "fileHash=${hex:64} fsize=${int:1024:8388608} act=${weighted:quarantine=70,block=25,alert=5} "
                  "cs2Label=signature cs2=${choice:Trojan.Generic|Ransom.Locker|Worm.Autorun|PUA.Miner} "
                  "request=https://${choice:cdn.example.net|files.example.org|dl.example.com}/${hex:8} "
                  "externalId=${uuid}${stamp}",
              10,
              {}},
         },
         true});
    // LEEF 2.0 names its delimiter in the header: x09 is the tab.
    packs.push_back(
        {"leef",
         "LEEF 2.0 records, tab-delimited: connections, logins and policy changes",
         {
             {"LEEF:2.0|Quillon|Sensor|2.2|ConnectionAllowed|x09|devTime=${time:%b %d %Y %H:%M:%S}\tdevTimeFormat=MMM "
              "dd yyyy HH:mm:ss\tcat=network\tsev=3\tsrc=${ip}\tdst=${ip}\tsrcPort=${int:1024:65535}\tdstPort=" +
                  ports +
                  "\tproto=${weighted:TCP=85,UDP=15}\tsrcBytes=${int:60:250000}\tdstBytes=${int:60:4000000}\tpolicy=" +
                  rules + "\tusrName=" + users + "${stamp:tab}",
              55,
              {}},
             {"LEEF:2.0|Quillon|Sensor|2.2|ConnectionDenied|x09|devTime=${time:%b %d %Y %H:%M:%S}\tdevTimeFormat=MMM "
              "dd yyyy HH:mm:ss\tcat=network\tsev=6\tsrc=${ip}\tdst=${ip}\tsrcPort=${int:1024:65535}\tdstPort=" +
                  ports +
                  "\tproto=${weighted:TCP=80,UDP=20}\taction=${weighted:deny=70,drop=30}\tpolicy=edge-default\treason="
                  "${choice:policy|geo-block|reputation}${stamp:tab}",
              25,
              {}},
             {"LEEF:2.0|Quillon|Sensor|2.2|LoginFailed|x09|devTime=${time:%b %d %Y %H:%M:%S}\tdevTimeFormat=MMM dd "
              "yyyy HH:mm:ss\tcat=authentication\tsev=5\tsrc=${ip}\tusrName=" +
                  users + "\tidentHostName=" + hosts +
                  "\treason=${choice:bad password|unknown user|account locked}\tlogonType=${choice:ssh|rdp|web}"
                  "\tsessionId=${uuid}${stamp:tab}",
              15,
              {}},
             {"LEEF:2.0|Quillon|Sensor|2.2|PolicyChanged|x09|devTime=${time:%b %d %Y %H:%M:%S}\tdevTimeFormat=MMM dd "
              "yyyy HH:mm:ss\tcat=configuration\tsev=4\tusrName=" +
                  users + "\tpolicy=" + rules +
                  "\tchange=${choice:enabled|disabled|edited}\tsrc=${ip}\trevision=${int:100:9999}${stamp:tab}",
              5,
              {}},
         },
         true});
    packs.push_back(
        {"json",
         "one JSON object a message with Elastic Common Schema names: web access, logins, network flows",
         {
             {R"({"@timestamp":"${time:rfc3339}","event":{"kind":"event","category":["web"],"type":["access"],)"
              R"("outcome":"${weighted:success=92,failure=8}","duration":${int:200000:900000000}},)"
              R"("source":{"ip":"${ip}","port":${int:1024:65535}},"http":{"request":{"method":")" +
                  methods + R"("},"response":{"status_code":)" + status +
                  R"(,"body":{"bytes":${int:0:250000}}}},)"
                  R"("url":{"path":")" +
                  paths + R"("},"user_agent":{"original":")" + agents +
                  R"("},)"
                  R"("host":{"name":")" +
                  hosts + R"("},"log":{"level":"info"}${stamp:json}})",
              60,
              {}},
             {R"({"@timestamp":"${time:rfc3339}","event":{"kind":"event","category":["authentication"],)"
              R"("type":["start"],"action":"ssh_login","outcome":"${weighted:success=80,failure=20}"},)"
              R"("user":{"name":")" +
                  users +
                  R"("},"source":{"ip":"${ip}","port":${int:1024:65535}},)"
                  R"("host":{"name":")" +
                  hosts +
                  R"("},"process":{"name":"sshd","pid":${int:300:65000}},)"
                  R"("log":{"level":"${weighted:info=80,warn=20}"},"message":"login by )" +
                  users + R"( from ${ip}"${stamp:json}})",
              25,
              {}},
             {R"({"@timestamp":"${time:rfc3339}","event":{"kind":"event","category":["network"],)"
              R"("type":["connection","${weighted:allowed=85,denied=15}"]},"source":{"ip":"${ip}",)"
              R"("port":${int:1024:65535},"bytes":${int:60:250000}},"destination":{"ip":"${ip}","port":)" +
                  ports +
                  R"(,"bytes":${int:60:4000000}},"network":{"transport":"${weighted:tcp=85,udp=15}",)"
                  R"("community_id":"1:${hex:27}="},"observer":{"hostname":"fw-edge-01","type":"firewall"},)"
                  R"("rule":{"name":")" +
                  rules + R"("}${stamp:json}})",
              15,
              {}},
         },
         true});
    packs.push_back({"apache",
                     "Apache combined log format: requests, status codes, sizes, referrers and user agents",
                     {
                         {"${ip} - ${weighted:-=85,alice=3,bob=3,carol=3,svc-deploy=6} [${time:apache}] \"" + methods +
                              " " + paths + " HTTP/${weighted:1.1=80,2.0=20}\" " + status +
                              " ${int:0:250000} "
                              "\"${weighted:-=50,https://www.example.com/=30,https://search.example.org/?q=shop=20}\" "
                              "\"" +
                              agents + "\"",
                          1,
                          {}},
                     },
                     false});
    packs.push_back(
        {"firewall",
         "key=value connection records: allow and deny, the 5-tuple, bytes, duration and rule",
         {
             {"action=allow proto=${weighted:tcp=85,udp=15} src=${ip} spt=${int:1024:65535} dst=${ip} dpt=" + ports +
                  " bytes_sent=${int:60:250000} bytes_rcvd=${int:60:4000000} duration=${int:0:3600} rule=" + rules +
                  " iface_in=${choice:eth0|eth1} iface_out=${choice:wan0|wan1} policy_id=${int:1:400} "
                  "session_id=${int:100000:9999999}${stamp}",
              75,
              {}},
             {"action=${weighted:deny=70,drop=30} proto=${weighted:tcp=70,udp=25,icmp=5} src=${ip} "
              "spt=${int:1024:65535} dst=${ip} dpt=" +
                  ports +
                  " bytes_sent=${int:40:1500} bytes_rcvd=0 duration=0 "
                  "rule=edge-default iface_in=${choice:wan0|wan1} iface_out=- policy_id=0 "
                  "reason=${choice:policy|geo-block|reputation|invalid-state}${stamp}",
              25,
              {}},
         },
         true});
    packs.push_back(
        {"auth",
         "sshd, sudo and PAM lines: logins accepted and failed, sessions, sudo commands",
         {
             {"Accepted ${weighted:publickey=70,password=30} for " + users + " from ${ip} port ${int:1024:65535} ssh2",
              25, "sshd"},
             {"Failed password for " + users + " from ${ip} port ${int:1024:65535} ssh2", 12, "sshd"},
             {"Failed password for invalid user ${choice:admin|test|oracle|ubuntu|guest|pi|postgres} from ${ip} port "
              "${int:1024:65535} ssh2",
              13, "sshd"},
             {"pam_unix(sshd:session): session opened for user " + users + "(uid=${int:1000:1999}) by (uid=0)", 15,
              "sshd"},
             {"pam_unix(sshd:session): session closed for user " + users, 12, "sshd"},
             {"Disconnected from user " + users + " ${ip} port ${int:1024:65535}", 8, "sshd"},
             {users +
                  " : TTY=pts/${int:0:9} ; PWD=${choice:/home/alice|/srv/app|/var/log|/etc|/tmp} ; USER=root ; "
                  "COMMAND=${choice:/usr/bin/systemctl restart nginx|/usr/bin/apt-get update|/usr/bin/journalctl -u "
                  "ssh|/bin/cat /var/log/auth.log|/usr/bin/tail -f /var/log/syslog}",
              8, "sudo"},
             {"pam_unix(sudo:session): session opened for user root(uid=0) by " + users + "(uid=${int:1000:1999})", 5,
              "sudo"},
             {"pam_unix(login:auth): authentication failure; logname= uid=0 euid=0 tty=tty${int:1:6} ruser= rhost=  "
              "user=" +
                  users,
              2, "login"},
         },
         false});
    return packs;
}

// A UTC clock for the samples, whatever the machine's zone.
class UtcClock final : public Clock {
public:
    LocalDateTime Now() const override { return {}; }
};
} // namespace

std::span<const TemplatePack> TemplatePacks()
{
    static const std::vector<TemplatePack> packs = MakePacks();
    return packs;
}

const TemplatePack *FindTemplatePack(std::string_view name)
{
    for (const TemplatePack &pack : TemplatePacks())
        if (pack.name == name)
            return &pack;
    return nullptr;
}

Result<TemplateSet> CompileTemplatePack(const TemplatePack &pack, const MessageTemplate::Options &options)
{
    Result<TemplateSet> set = TemplateSet::FromEntries(pack.entries, TemplateSet::Order::ByWeight, options);
    if (!set)
        return Status::Failure("pack " + std::string(pack.name) + ": " + set.Why());
    return set;
}

std::string TemplatePackSample(const TemplatePack &pack)
{
    static const UtcClock clock;
    MessageTemplate::Options options;
    options.clock = &clock;
    Result<TemplateSet> set = CompileTemplatePack(pack, options);
    if (!set)
        return set.Why();
    SetRandomStart(FixedRandomStart);
    const Stamp stamp{"sample", 0, 1, 1772719389123456};
    TemplateContext context;
    context.nowUs = stamp.sentUs;
    context.seq = 1;
    context.stamp = &stamp;
    std::string sample;
    set->Template(set->NextIndex()).AppendTo(sample, context);
    return sample;
}
