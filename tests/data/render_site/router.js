// Writes the menu of every page from menu.json, as a client-side router does.
fetch('menu.json')
  .then((answer) => answer.json())
  .then((items) => {
    const menu = document.getElementById('menu');
    for (const item of items) {
      const link = document.createElement('a');
      link.href = item.path;
      link.textContent = item.name;
      menu.appendChild(link);
    }
  });
