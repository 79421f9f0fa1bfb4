#pragma once

#include <string>

// Certificates made with OpenSSL when a program first asks, written as PEM
// files into a temporary folder that lives until the program ends; nothing
// private is kept in the repository. Server certificates are for "localhost",
// 127.0.0.1 and ::1 and share serverKey.
struct TestCertificates {
    std::string caFile;      // the CA that signs the server and client certificates
    std::string otherCaFile; // a CA that signs only foreignCert
    std::string serverCert;
    std::string serverKey;
    std::string expiredCert; // ended yesterday
    std::string foreignCert; // signed by the other CA
    std::string clientCert;
    std::string clientKey;
};

const TestCertificates &MadeCertificates();
