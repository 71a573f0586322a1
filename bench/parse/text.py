# CSV-like text of about 10 MB: built, not parsed (the baseline).
def build():
    chunk = "".join("id%d,name-%d,alpha,beta-gamma,%d,x%d,last field here\n" % (i, i * 7, i * i, 1000 - i)
                    for i in range(1, 201))
    return chunk * (10000000 // len(chunk))


if __name__ == "__main__":
    print(len(build()))
